#include "catalogue/catalogue_site.h"

#include "platform/error.h"
#include "workspace/format_settings.h"
#include "workspace/names.h"

#include <chrono>
#include <thread>

namespace quill::testing {

const std::string CatalogueSite::kDbIni =
    "[Quillary]\r\nDatabase=server:/srv/organizer/db.fdb\r\nUser_Name=organizer\r\nPassword=secret\r\n"
    "ServerCharSet=UTF8\r\nSQLDialect=3\r\nBlobSize=-1\r\n";

namespace {

int vendorPort() {
    const std::string& host = vendorHost();
    const auto colon = host.rfind(':');
    return colon == std::string::npos ? 80 : std::stoi(host.substr(colon + 1));
}

// One server for the whole test program: the built-in host is shared with other
// test programs, and giving it up between tests would let them take it.
vendorkit::HttpServer& vendorServer() {
    static std::unique_ptr<vendorkit::HttpServer> server;
    if (server) return *server;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    for (;;) {
        try {
            server = std::make_unique<vendorkit::HttpServer>(vendorPort());
            return *server;
        } catch (const AppError&) {
            if (std::chrono::steady_clock::now() > giveUp) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

}  // namespace

CatalogueSite::CatalogueSite() {
    resetBuiltInNames();
    formatSettings() = FormatSettings{};
    AppDir = app.path();
    writeFile(AppDir + "db.ini", kDbIni);
    server = &vendorServer();
    server->route(catalogueUrlPath(), vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found"));
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

void CatalogueSite::publish(const std::vector<vendorkit::TemplateRow>& rows) {
    vendorkit::buildCatalogueArchive(vendor / "temp.fdb", vendor / "temp.zip", rows);
    server->serveFile(catalogueUrlPath(), vendor / "temp.zip");
}

void CatalogueSite::publishBytes(const std::string& bytes) { server->serveBytes(catalogueUrlPath(), bytes); }

}  // namespace quill::testing
