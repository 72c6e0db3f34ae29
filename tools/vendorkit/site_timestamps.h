// The online key's part of a site: timestamp.txt beside version.txt (under
// the update folder) and beside manifest.txt (under the templates folder), a
// short-lived statement that the file beside it, of this size and SHA-256,
// is still the current one, signed whole as timestamp.txt.sig:
//      [timestamp]
//      kind=timestamp
//      serial=<rises with every refresh>
//      expires=YYYY-MM-DDTHH:MM:SSZ
//      [version.txt]            ([manifest.txt] under the templates folder)
//      size=<bytes>
//      sha256=<64 lower-case hex digits>
// The online key can only say "still current": what is installed stays
// signed by the release key, which need not be on the machine that refreshes.
#pragma once

#include "vendorkit/signed_site.h"
#include "vendorkit/signing.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quill::vendorkit {

inline const std::string kTimestampFileName = "timestamp.txt";
inline constexpr const char* kTimestampKind = "timestamp";
inline constexpr int kDefaultFreshHours = 24;

// The exact text that is signed, describing describedName's bytes.
std::string timestampText(const std::string& describedName, const std::string& describedBytes,
                          const SigningStamp& stamp);

// Refuses (AppError) an online key that does not fit the chain: none given
// where its last link names one, one given where it names none, or another
// than the one it names.
void requireOnlineKey(const std::vector<KeyLink>& chain, const SigningKey* online, const std::string& chainName);

// The serial of a new refresh by online: now, or one above the highest of
// the site's timestamps that online signed, whichever is higher; those of an
// earlier online key do not count, as the program keeps serials per link.
// Raises AppError where that would pass kMostWholeNumber.
std::uint64_t nextTimestampSerial(const std::string& siteFolder, std::int64_t now, const SigningKey& online);

// Writes timestamp.txt and its signature by online beside each of the site's
// version.txt and manifest.txt that is there, describing it as it is now.
// Returns the files written, relative to siteFolder. Raises AppError.
std::vector<std::string> writeTimestamps(const std::string& siteFolder, const SigningKey& online,
                                         const SigningStamp& stamp);

struct Refreshed {
    SigningStamp stamp;             // of the timestamps
    std::int64_t metadataExpires;   // the earlier expiry of version.txt and manifest.txt
};

// Writes the site's timestamps again with nextTimestampSerial and expires,
// and nothing else. Refuses, before writing anything, a site whose published
// chain does not end in a link naming online, and a version.txt or
// manifest.txt that the release key of that link has not signed or whose
// own expiry has passed: a timestamp would vouch for what the program
// refuses. Needs no release key. Raises AppError.
Refreshed refreshTimestamps(const std::string& siteFolder, const SigningKey& online, std::int64_t expires);

}  // namespace quill::vendorkit
