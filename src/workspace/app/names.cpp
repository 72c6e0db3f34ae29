#include "workspace/app/names.h"

namespace quill {

namespace {
const std::string kHost = QUILL_VENDOR_HOST;
const std::string kVendorSite = std::string(QUILL_VENDOR_SCHEME) + "://" + kHost;
const std::string kDefaultUpdateUrl = kVendorSite + "/quillary-web/update/";
}  // namespace

std::string AppDir;
std::string DataDir;
std::string AppDbDir;

const std::string TemplatesUrl = kVendorSite + "/quillary-web-templates/";
const std::string CatalogueFileName = "temp.fdb";
const std::string CatalogueUser = "SYSDBA";
const std::string CataloguePassword = "quietbird";
const std::string UpdateInfoFileName = "upg_info.txt";
std::string ProgramExeName = "quillary.exe";
std::string UpdateUrl = kDefaultUpdateUrl;
const std::string VersionFileName = "version.txt";
std::string ProductSection = "Quillary";
std::string CurrentVersion = "1.0";

const std::string& vendorHost() { return kHost; }

void resetBuiltInNames() {
    ProgramExeName = "quillary.exe";
    UpdateUrl = kDefaultUpdateUrl;
    ProductSection = "Quillary";
    CurrentVersion = "1.0";
}

std::string changeFileExt(const std::string& name, const std::string& ext) {
    // The extension starts at the last "." after the last folder separator.
    const auto dot = name.find_last_of("./\\");
    if (dot == std::string::npos || name[dot] != '.') return name + ext;
    return name.substr(0, dot) + ext;
}

}  // namespace quill
