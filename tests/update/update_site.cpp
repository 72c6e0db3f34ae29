#include "update_site.h"

#include "vendorkit/zip_writer.h"
#include "workspace/app/names.h"
#include "workspace/trust/vendor_key.h"

namespace quill::testing {

UpdateSite::UpdateSite() {
    resetBuiltInNames();
    AppDir = app.path();
    UpdateUrl = server.url("/update/");
    makeFolders(AppDir + "upgr_bak");
    useVendorKeyForTests(std::nullopt);
}

UpdateSite::~UpdateSite() { useBuiltInVendorKey(); }

void UpdateSite::serveVersionFile(const std::string& text) { server.serveBytes("/update/version.txt", text); }

void UpdateSite::serveArchive(const std::string& name, const std::vector<ArchiveEntry>& entries) {
    const std::string path = siteFiles.path() + name;
    const auto slash = path.rfind('/');
    makeFolders(path.substr(0, slash + 1));
    {
        vendorkit::ZipWriter zip(path);
        for (const auto& entry : entries) {
            if (!entry.name.empty() && entry.name.back() == '/') {
                zip.addFolder(entry.name);
                continue;
            }
            vendorkit::ZipEntryOptions options;
            options.damageDeflate = entry.damaged;
            zip.addFile(entry.name, entry.bytes, options);
        }
        zip.finish();
    }
    server.serveBytes("/update/" + name, readFile(path));
    update.offeredFileName = name;
}

int UpdateSite::requestsFor(const std::string& path) const {
    int n = 0;
    for (const auto& request : server.requests()) n += request.target == path;
    return n;
}

}  // namespace quill::testing
