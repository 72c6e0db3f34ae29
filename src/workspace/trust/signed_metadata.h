// What the vendor signs about its archives, written by the vendor's tools and
// read by the program. Each file is INI text signed whole by a detached
// signature beside it, X + ".sig":
//
//  version.txt (kind=update), under UpdateUrl; 64 bytes of signature:
//      [Quillary]
//      version=1.1
//      file=quillary-1.1.zip
//      size=<bytes of the archive>
//      sha256=<its SHA-256, 64 lower-case hex digits>
//      kind=update
//      serial=<rises with every signing>
//      expires=YYYY-MM-DDTHH:MM:SSZ
//
//  manifest.txt (kind=templates), under TemplatesUrl; 64 bytes of signature:
//      [manifest]
//      kind=templates
//      serial=...
//      expires=...
//      [temp.zip]
//      size=...
//      sha256=...
//      (one section per archive, named as the site names it)
//
//  keys/N.txt (kind=key), N = 2, 3, ... under both base addresses: the key
//  that follows key N-1 (the built-in key is key 1); 128 bytes of signature,
//  key N-1's over the file, then key N's:
//      [key]
//      kind=key
//      number=N
//      key=<base64 of the 32-byte public key>
//      online=<base64 of a public key>   (optional: the link's online key)
//
//  timestamp.txt (kind=timestamp), under a base address whose last link names
//  an online key; signed by that online key, 64 bytes: vouches that the file
//  it describes is the current one, for a short while.
//      [timestamp]
//      kind=timestamp
//      serial=...
//      expires=...
//      [version.txt]       (or [manifest.txt], as the base holds)
//      size=...
//      sha256=...
#pragma once

#include "workspace/trust/signature.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

inline const std::string kManifestFileName = "manifest.txt";
inline const std::string kKeysFolder = "keys/";
inline constexpr const char* kUpdateKind = "update";
inline constexpr const char* kTemplatesKind = "templates";
inline constexpr const char* kKeyKind = "key";
inline const std::string kTimestampFileName = "timestamp.txt";
inline constexpr const char* kTimestampKind = "timestamp";
// What a metadata file may hold at the most: a manifest of tens of thousands of archives.
inline constexpr std::size_t kMetadataLimit = 16 * 1024 * 1024;

// A serial or a size is a whole number of at most this many decimal digits,
// so the highest there can be is kMostWholeNumber.
inline constexpr std::size_t kMostDigits = 19;
inline constexpr std::uint64_t kMostWholeNumber = 9'999'999'999'999'999'999ULL;

// The value of 1 to kMostDigits decimal digits; nullopt for anything else.
std::optional<std::uint64_t> wholeNumber(std::string_view text);

// Sections of key=value lines, in the order they came; names and keys as written.
using MetadataSection = std::map<std::string, std::string>;

struct MetadataText {
    std::map<std::string, MetadataSection> sections;
    std::vector<std::string> order;  // section names as they came
};

// Reads INI text (CR LF or LF lines; blank lines and lines starting with ";"
// skipped). Nullopt for a line that is neither a section nor key=value, a
// key before any section, or a section or key given twice: a signed file is
// read one way only.
std::optional<MetadataText> parseMetadata(std::string_view text);

// An archive as a signature describes it.
struct SignedArchive {
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
};

// The parts every signed file has, from the section that holds "kind".
struct MetadataHeader {
    std::string kind;
    std::uint64_t serial = 0;
    std::int64_t expires = 0;  // seconds since 1970 (UTC)
};

// Nullopt unless section holds kind, a whole-number serial and an expires in
// the one form allowed.
std::optional<MetadataHeader> metadataHeaderOf(const MetadataSection& section);
// Nullopt unless section holds a whole-number size and 64 lower-case hex digits of sha256.
std::optional<SignedArchive> signedArchiveOf(const MetadataSection& section);

// The key that a link named `number` (keys/<number>.txt) names: nullopt
// unless its [key] section says kind=key, number=<number> and key=<base64 of a
// public key>. Its signatures are for the caller to check.
std::optional<PublicKey> keyOfLink(std::string_view body, int number);

struct ChainLink {
    PublicKey key;
    std::optional<PublicKey> online;  // the key that signs timestamp.txt under this link
};
// As keyOfLink, with the online key the link names; nullopt as well for an
// online= value that is not a key.
std::optional<ChainLink> chainLinkOf(std::string_view body, int number);

// What a timestamp says about the file `name`.
struct Timestamp {
    MetadataHeader header;  // from [timestamp]; the kind is for the caller to check
    SignedArchive file;     // from [<name>]
};
// Nullopt unless body holds a [timestamp] header and a [<name>] section with
// size and sha256. Its signature is for the caller to check.
std::optional<Timestamp> timestampOf(std::string_view body, const std::string& name);

// "YYYY-MM-DDTHH:MM:SSZ" <-> seconds since 1970; nullopt for anything else.
std::optional<std::int64_t> parseUtcTime(std::string_view text);
std::string formatUtcTime(std::int64_t seconds);

// SHA-256 as 64 lower-case hex digits, at once or as the bytes come.
std::string sha256Hex(std::string_view bytes);
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void add(const char* data, std::size_t size);
    std::string hex();  // ends the hashing

private:
    void* context_;
};

}  // namespace quill
