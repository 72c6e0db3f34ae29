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

}  // namespace

CatalogueSite::CatalogueSite() {
    resetBuiltInNames();
    formatSettings() = FormatSettings{};
    AppDir = app.path();
    writeFile(AppDir + "db.ini", kDbIni);
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
    catalogue = std::make_unique<Catalogue>(screen, view, http);
}

CatalogueSite::~CatalogueSite() {
    catalogue.reset();  // detaches before the folders go
    server.reset();
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
