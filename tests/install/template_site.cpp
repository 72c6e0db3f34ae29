#include "template_site.h"

#include "support/vendor_host.h"

#include "vendorkit/zip_writer.h"
#include "platform/error.h"
#include "workspace/app/names.h"

namespace quill::testing {

void writeTemplateArchive(const std::string& path, const TemplateArchive& archive) {
    vendorkit::ZipWriter zip(path);
    for (const auto& [name, bytes] : archive.otherFiles) zip.addFile(name, bytes);
    if (archive.withDatabase) zip.addFile("db.fdb", archive.database);
    if (archive.withDataFolder) {
        zip.addFolder("db/");
        std::size_t left = archive.dataFiles.size();
        for (const auto& [name, bytes] : archive.dataFiles) {
            vendorkit::ZipEntryOptions options;
            options.damageDeflate = archive.damageLastDataFile && --left == 0;
            zip.addFile("db/" + name, bytes, options);
        }
    }
    zip.finish();
}

TemplateSite::TemplateSite() {
    resetBuiltInNames();
    AppDir = app.path();
    DataDir = AppDir + "data/";
    AppDbDir.clear();
    TempDir = AppDir + "temp/";
    makeFolders(TempDir);
    makeFolders(DataDir + "db/forms");
    makeFolders(AppDir + "db");
    writeFile(AppDir + "db/db.fdb", "old database");
    writeFile(DataDir + "db/notes.txt", "old notes");
    writeFile(DataDir + "db/forms/old.frm", "old form");
    writeFile(DataDir + "templates.ini", "[Templates]\r\nMain=old\r\nOther=1\r\n");
    record.lines.loadFromFile(DataDir + "templates.ini");
    server = serveVendorHost();
}

void TemplateSite::serveTemplate(const std::string& file, const TemplateArchive& archive) {
    const std::string built = siteFiles.path() + file;
    writeTemplateArchive(built, archive);
    server->serveBytes("/quillary-web-templates/" + file, readFile(built));
}

DownloadContext TemplateSite::download(const std::string& file) {
    return DownloadContext{screen, http, TempDir, record, 0, "Contacts",
                           [file] { return file; },
                           [this] { screen.events.push_back("check"); }};
}

}  // namespace quill::testing
