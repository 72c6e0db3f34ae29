// The vendor's signed metadata as a site publishes it, in the vendor's tool's
// own texts, for tests that serve it from bytes: version.txt, the template
// site's manifest and the links of the key chain, with their signatures.
#pragma once

#include "vendorkit/http_server.h"
#include "vendorkit/signing.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quill::testing {

// An expiry that many days or seconds from now (negative: in the past).
std::string utcDaysFromNow(int days);
std::string utcSecondsFromNow(int seconds);

struct SignedVersionFile {
    std::string version = "1.1";
    std::string file = "upd.zip";
    std::string archive;  // the bytes it describes
    std::uint64_t serial = 1;
    std::string expires = utcDaysFromNow(30);
    std::string kind = "update";
};
std::string versionFileText(const SignedVersionFile& version);

struct SiteArchive {
    std::string name;
    std::string bytes;
};
std::string manifestText(const std::vector<SiteArchive>& archives, std::uint64_t serial = 1,
                         const std::string& expires = utcDaysFromNow(30));

// Serves bytes at path and `by`'s signature of them at path + ".sig".
void serveSigned(vendorkit::HttpServer& server, const std::string& path, const std::string& bytes,
                 const vendorkit::SigningKey& by);

// Serves base + "keys/<number>.txt" naming `next` (and `online` as its online
// key, when given), signed by `previous` and by `next`.
void serveKeyLink(vendorkit::HttpServer& server, const std::string& base, int number,
                  const vendorkit::SigningKey& previous, const vendorkit::SigningKey& next,
                  const vendorkit::SigningKey* online = nullptr);

// timestamp.txt vouching for `described` as the current file `name`.
struct SignedTimestamp {
    std::string name = "version.txt";
    std::string described;  // the bytes it describes
    std::uint64_t serial = 1;
    std::string expires = utcSecondsFromNow(24 * 3600);
    std::string kind = "timestamp";
};
std::string timestampText(const SignedTimestamp& timestamp);

}  // namespace quill::testing
