#include "template_site.h"

#include "vendorkit/zip_writer.h"
#include "platform/error.h"
#include "workspace/names.h"

#include <chrono>
#include <thread>

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

namespace {

int vendorPort() {
    const std::string& host = vendorHost();
    const auto colon = host.rfind(':');
    return colon == std::string::npos ? 80 : std::stoi(host.substr(colon + 1));
}

}  // namespace

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
    // Other test programs serve the built-in host too; wait for them to let it go.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    for (;;) {
        try {
            server = std::make_unique<vendorkit::HttpServer>(vendorPort());
            break;
        } catch (const AppError&) {
            if (std::chrono::steady_clock::now() > giveUp) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
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
