#include "support/signed_site.h"

#include "vendorkit/signed_site.h"
#include "workspace/trust/signed_metadata.h"

#include <ctime>

namespace quill::testing {

namespace {

vendorkit::SigningStamp stampOf(std::uint64_t serial, const std::string& expires) {
    return {serial, *parseUtcTime(expires)};
}

}  // namespace

std::string utcDaysFromNow(int days) {
    return formatUtcTime(static_cast<std::int64_t>(std::time(nullptr)) + static_cast<std::int64_t>(days) * 86400);
}

std::string utcSecondsFromNow(int seconds) {
    return formatUtcTime(static_cast<std::int64_t>(std::time(nullptr)) + seconds);
}

std::string versionFileText(const SignedVersionFile& version) {
    vendorkit::SiteVersion site;
    site.version = version.version;
    site.file = version.file;
    std::string text = vendorkit::versionFileText(site, {version.archive.size(), sha256Hex(version.archive)},
                                                  stampOf(version.serial, version.expires));
    // Another kind is what the vendor's tool never writes here, and what a test offers in its place.
    const std::string kind = std::string("kind=") + kUpdateKind;
    if (version.kind != kUpdateKind) text.replace(text.find(kind), kind.size(), "kind=" + version.kind);
    return text;
}

std::string manifestText(const std::vector<SiteArchive>& archives, std::uint64_t serial, const std::string& expires) {
    std::vector<std::pair<std::string, SignedArchive>> entries;
    for (const auto& archive : archives) {
        entries.emplace_back(archive.name, SignedArchive{archive.bytes.size(), sha256Hex(archive.bytes)});
    }
    return vendorkit::manifestText(entries, stampOf(serial, expires));
}

void serveSigned(vendorkit::HttpServer& server, const std::string& path, const std::string& bytes,
                 const vendorkit::SigningKey& by) {
    server.serveBytes(path, bytes);
    server.serveBytes(path + ".sig", by.sign(bytes));
}

void serveKeyLink(vendorkit::HttpServer& server, const std::string& base, int number,
                  const vendorkit::SigningKey& previous, const vendorkit::SigningKey& next,
                  const vendorkit::SigningKey* online) {
    std::string body = vendorkit::keyLinkText(number, next.publicKeyBase64());
    if (online) body += "online=" + online->publicKeyBase64() + "\r\n";
    const std::string path = base + "keys/" + std::to_string(number) + ".txt";
    server.serveBytes(path, body);
    server.serveBytes(path + ".sig", previous.sign(body) + next.sign(body));
}

std::string timestampText(const SignedTimestamp& timestamp) {
    return "[timestamp]\r\nkind=" + timestamp.kind + "\r\nserial=" + std::to_string(timestamp.serial) +
           "\r\nexpires=" + timestamp.expires + "\r\n[" + timestamp.name + "]\r\nsize=" +
           std::to_string(timestamp.described.size()) + "\r\nsha256=" + sha256Hex(timestamp.described) + "\r\n";
}

}  // namespace quill::testing
