#include "catalogue/catalogue_site.h"

#include "support/vendor_host.h"
#include "workspace/app/format_settings.h"
#include "workspace/app/names.h"

namespace quill::testing {

const std::string CatalogueSite::kDbIni =
    "[Quillary]\r\nDatabase=server:/srv/organizer/db.fdb\r\nUser_Name=organizer\r\nPassword=secret\r\n"
    "ServerCharSet=UTF8\r\nSQLDialect=3\r\nBlobSize=-1\r\n";

CatalogueSite::CatalogueSite() {
    resetBuiltInNames();
    formatSettings() = FormatSettings{};
    AppDir = app.path();
    writeFile(AppDir + "db.ini", kDbIni);
    server = &vendorHostServer();
    server->route(catalogueUrlPath(), vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found"));
    for (const char* path : {"manifest.txt", "manifest.txt.sig", "keys/2.txt"}) {
        server->route(std::string("/quillary-web-templates/") + path,
                      vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found"));
    }
    catalogue = std::make_unique<Catalogue>(screen, view, http);
}

CatalogueSite::~CatalogueSite() {
    catalogue.reset();  // detaches before the folders go
}

std::string CatalogueSite::catalogueUrlPath() const { return "/quillary-web-templates/temp.zip"; }

std::string CatalogueSite::buildDatabase(const std::vector<vendorkit::TemplateRow>& rows, const std::string& name) {
    const std::string path = vendor / name;
    vendorkit::createCatalogueDatabase(path, rows);
    return path;
}

void CatalogueSite::publish(const std::vector<vendorkit::TemplateRow>& rows, const std::vector<std::string>& code) {
    vendorkit::buildCatalogueArchive(vendor / "temp.fdb", vendor / "temp.zip", rows, code);
    server->serveFile(catalogueUrlPath(), vendor / "temp.zip");
}

void CatalogueSite::publishBytes(const std::string& bytes) { server->serveBytes(catalogueUrlPath(), bytes); }

}  // namespace quill::testing
