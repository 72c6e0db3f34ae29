// What the vendor signs about a site: version.txt under the update folder,
// manifest.txt under the templates folder, each signed whole beside it as
// X + ".sig", re-signed before they expire; and the chain of keys that lets
// the program move from the key it was built with to the next, each link
// naming its release key and, when it has one, its online key.
#pragma once

#include "vendorkit/signing.h"
#include "vendorkit/site_description.h"
#include "workspace/trust/signed_metadata.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quill::vendorkit {

// What changes with every signing.
struct SigningStamp {
    std::uint64_t serial = 0;
    std::int64_t expires = 0;  // seconds since 1970, UTC
};

inline constexpr int kDefaultValidDays = 30;
// With an online key vouching daily for freshness, the release key is taken
// out of its safe once a year rather than every month.
inline constexpr int kOnlineValidDays = 365;

// 00:00:00Z of the day `days` after now's day, so that every signing of one
// day expires at the same moment.
std::int64_t defaultExpiry(std::int64_t now, int days = kDefaultValidDays);

// "YYYY-MM-DD" as 00:00:00Z of that day. Raises AppError for anything else.
std::int64_t expiryOfDate(const std::string& date);

// The highest serial that the site's version.txt and manifest.txt carry, of
// those signed by signer (any signer when null); nullopt for none. Files that
// are missing or unsigned count for nothing.
std::optional<std::uint64_t> highestSerial(const std::string& siteFolder, const SigningKey* signer = nullptr);

// The serial of a new signing by signer: now, or one above highestSerial,
// whichever is higher. Raises AppError where that would pass
// kMostWholeNumber, which the program refuses: only a new key starts again.
std::uint64_t nextSerial(const std::string& siteFolder, std::int64_t now, const SigningKey* signer = nullptr);

// The size and SHA-256 of an archive file. Raises AppError when it cannot be read.
SignedArchive describeArchive(const std::string& path);

// The exact texts that are signed, for tests that serve them without a site folder.
// Raise AppError for a name that cannot be a section, or an archive named twice.
std::string versionFileText(const SiteVersion& version, const SignedArchive& archive, const SigningStamp& stamp);
std::string manifestText(const std::vector<std::pair<std::string, SignedArchive>>& archives, const SigningStamp& stamp);

// Writes updateFolder/version.txt offering updateFolder/<version.file> with
// its size and SHA-256, and its signature beside it. Raises AppError.
void writeSignedVersionFile(const std::string& updateFolder, const SiteVersion& version, const SigningKey& signer,
                            const SigningStamp& stamp);

// Writes templatesFolder/manifest.txt listing each archive (names relative to
// the folder, as the site names them, in this order) with its size and
// SHA-256, and its signature beside it. Raises AppError.
void writeSignedManifest(const std::string& templatesFolder, const std::vector<std::string>& archives,
                         const SigningKey& signer, const SigningStamp& stamp);

struct KeyLink {
    int number = 0;         // 2, 3, ...: key 1 is the one the program is built with
    std::string publicKey;  // base64
    std::string onlineKey;  // base64 of the key that signs timestamps under this link; "" for none
};

// The exact text of link number N.txt; online= only for a link with an online key.
std::string keyLinkText(int number, const std::string& publicKeyBase64, const std::string& onlineKeyBase64 = "");

// The links of a chain folder, 2 upwards; empty for a missing or empty folder.
// Raises AppError for a gap, a link not in the one form, or a signature that
// does not verify (the first signature of link 2 is key 1's, which the chain
// does not hold).
std::vector<KeyLink> readKeyChain(const std::string& chainFolder);

// Adds the next link to the chain folder (made when missing): newKey, and
// onlineKey's public half when given, signed by oldKey and by newKey. newKey
// may be oldKey itself, to add or replace the online key. Refuses an oldKey
// that is not the chain's last key (any key is key 1 of an empty chain), a
// newKey that an earlier link named, an online key that is a release key of
// the chain, and a link that would say what the last one says. Raises AppError.
KeyLink addKeyLink(const std::string& chainFolder, const SigningKey& oldKey, const SigningKey& newKey,
                   const SigningKey* onlineKey = nullptr);

// Copies every link of the chain into keys/ under both base folders of the
// site. Returns the files written, relative to siteFolder. Raises AppError.
std::vector<std::string> publishKeyChain(const std::string& chainFolder, const std::string& siteFolder);

// Writes text to path and signer's signature of it to path + ".sig", both
// renamed into place only once both are written. Raises AppError.
void writeSignedFile(const std::string& path, const std::string& text, const SigningKey& signer);

// Refuses (AppError) a signer that is not the last key of the chain: the
// program that follows it no longer takes the keys before it.
void requireLastKey(const std::vector<KeyLink>& chain, const SigningKey& signer, const std::string& chainName);

// Signs the site's version.txt and manifest.txt again with a new serial and
// expiry, every other line and every archive as they are. Refuses a site
// whose archives no longer match what its metadata says, and a signer that
// is not the last key of the chain the site publishes. Returns the stamp.
SigningStamp resignSite(const std::string& siteFolder, const SigningKey& signer, std::int64_t expires);

}  // namespace quill::vendorkit
