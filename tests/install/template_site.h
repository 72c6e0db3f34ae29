// A temporary application folder with an installed template, and the vendor's
// template site on loopback, for the download and installation tests.
#pragma once

#include "install/template_download.h"
#include "support/fake_screen.h"
#include "support/temp_folder.h"
#include "vendorkit/http_server.h"
#include "workspace/app/app_files.h"
#include "workspace/transfer/http_client.h"

#include <map>
#include <memory>
#include <string>

namespace quill::testing {

struct TemplateArchive {
    bool withDatabase = true;
    bool withDataFolder = true;
    std::string database = "new database";
    std::map<std::string, std::string> dataFiles = {{"notes.txt", "new notes"}, {"forms/a.frm", "form a"}};
    std::map<std::string, std::string> otherFiles = {{"readme.txt", "read me"}};
    bool damageLastDataFile = false;  // its deflate data is broken
};

void writeTemplateArchive(const std::string& path, const TemplateArchive& archive);

class TemplateSite {
public:
    // AppDir with temp/, data/ (templates.ini, db/ with the old template) and
    // db/db.fdb holding "old database"; the server listens on the built-in host,
    // waiting while another program holds it.
    TemplateSite();

    TempFolder app;
    TempFolder siteFiles;  // the vendor's archives, outside the application folder
    std::string TempDir;
    FakeScreen screen;
    HttpClient http;
    std::unique_ptr<vendorkit::HttpServer> server;
    TemplateRecord record;

    // Serves the archive as TemplatesUrl + file.
    void serveTemplate(const std::string& file, const TemplateArchive& archive = {});
    // A download of `file` for the item "Contacts"; the update check leaves "check" in the events.
    DownloadContext download(const std::string& file);
};

}  // namespace quill::testing
