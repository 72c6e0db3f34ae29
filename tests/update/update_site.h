// A temporary application folder and the vendor's update site on loopback, for
// the update check and replacement tests.
#pragma once

#include "support/fake_screen.h"
#include "support/temp_folder.h"
#include "update/program_update.h"
#include "vendorkit/http_server.h"
#include "workspace/transfer/http_client.h"

#include <string>
#include <vector>

namespace quill::testing {

struct ArchiveEntry {
    std::string name;   // a folder when it ends in "/"
    std::string bytes;
    bool damaged = false;  // broken deflate data
};

class UpdateSite {
public:
    // AppDir with upgr_bak/; UpdateUrl points at the server's "/update/". The
    // program checks no signature until a test gives it a key.
    UpdateSite();
    ~UpdateSite();

    TempFolder app;
    TempFolder siteFiles;
    FakeScreen screen;
    HttpClient http;
    vendorkit::HttpServer server;
    ProgramUpdate update;

    void serveVersionFile(const std::string& text);
    // Serves the archive as UpdateUrl + name and sets offeredFileName to name.
    void serveArchive(const std::string& name, const std::vector<ArchiveEntry>& entries);
    int requestsFor(const std::string& path) const;
};

}  // namespace quill::testing
