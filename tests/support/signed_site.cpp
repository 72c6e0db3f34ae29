#include "support/signed_site.h"

#include "workspace/signed_metadata.h"

#include <ctime>

namespace quill::testing {

std::string utcDaysFromNow(int days) {
    return formatUtcTime(static_cast<std::int64_t>(std::time(nullptr)) + static_cast<std::int64_t>(days) * 86400);
}

std::string versionFileText(const SignedVersionFile& version) {
    return "[Quillary]\r\nversion=" + version.version + "\r\nfile=" + version.file +
           "\r\nsize=" + std::to_string(version.archive.size()) + "\r\nsha256=" + sha256Hex(version.archive) +
           "\r\nkind=" + version.kind + "\r\nserial=" + std::to_string(version.serial) +
           "\r\nexpires=" + version.expires + "\r\n";
}

std::string manifestText(const std::vector<SiteArchive>& archives, std::uint64_t serial, const std::string& expires) {
    std::string text = "[manifest]\r\nkind=templates\r\nserial=" + std::to_string(serial) + "\r\nexpires=" + expires +
                       "\r\n";
    for (const auto& archive : archives) {
        text += "[" + archive.name + "]\r\nsize=" + std::to_string(archive.bytes.size()) +
                "\r\nsha256=" + sha256Hex(archive.bytes) + "\r\n";
    }
    return text;
}

void serveSigned(vendorkit::HttpServer& server, const std::string& path, const std::string& bytes,
                 const vendorkit::SigningKey& by) {
    server.serveBytes(path, bytes);
    server.serveBytes(path + ".sig", by.sign(bytes));
}

void serveKeyLink(vendorkit::HttpServer& server, const std::string& base, int number,
                  const vendorkit::SigningKey& previous, const vendorkit::SigningKey& next) {
    const std::string body = "[key]\r\nkind=key\r\nnumber=" + std::to_string(number) + "\r\nkey=" +
                             next.publicKeyBase64() + "\r\n";
    const std::string path = base + "keys/" + std::to_string(number) + ".txt";
    server.serveBytes(path, body);
    server.serveBytes(path + ".sig", previous.sign(body) + next.sign(body));
}

}  // namespace quill::testing
