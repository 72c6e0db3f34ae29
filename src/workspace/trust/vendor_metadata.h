// Taking the vendor's signed metadata (signed_metadata.h) from its site: the
// key it is signed with now, found by following the key chain from the
// built-in key; its signature, kind and expiry; and its serial, never lower
// than one this program accepted before under the same key; and, where the
// chain's last link names an online key, a current timestamp by that key
// vouching for its exact bytes, so the release key can stay off line. What
// was accepted is kept in AppDir + "signing.ini", so a site that later serves older
// information, hides the chain, or holds back newer information once what was
// taken last has expired, is refused or told.
#pragma once

#include "workspace/trust/signature.h"
#include "workspace/trust/signed_metadata.h"

#include <optional>
#include <string>

namespace quill {

class HttpClient;
class Screen;

inline const std::string kSigningStateFileName = "signing.ini";

// signing.ini's text as this program reads it, taking what an editor may add
// (a UTF-8 mark, CR LF or LF, blanks around "="). Nullopt, with the reason in
// `why`, unless it is sections of key=value lines, each given once, whose
// serial, link, expires and key values are each of their one form.
std::optional<MetadataText> parseSigningState(std::string text, std::string* why = nullptr);

// The key that signs the metadata under base now: the built-in key, followed
// along base + "keys/2.txt", "keys/3.txt", ... to the first link the site does
// not have. Followed once per base for the life of the process. Raises
// AppError for a link that is forged, broken or cannot be fetched, for a
// chain shorter than one accepted before, and for one whose link at that
// place names another key than the one accepted there: a chain forked from an
// older key. Needs a built-in key.
//
// Here and below, `refused` (when given) receives the text of an error that
// refuses what the site sent, as opposed to one that got nothing from it: the
// first must be told even where a failed fetch is not.
PublicKey currentVendorKey(Screen& screen, HttpClient& http, const std::string& base,
                           std::string* refused = nullptr);

struct AcceptedMetadata {
    std::string bytes;  // exactly as signed
    MetadataText text;
    MetadataHeader header;
    std::optional<std::int64_t> timestampExpires;  // when taken with a timestamp: current until then at most
};

// When the chain's last link names an online key, first fetches base +
// "timestamp.txt" and its signature: signed by that key, of kind timestamp,
// not expired, its serial not below the one kept for it under that link;
// then base + name, cut at the size the timestamp describes and taken only
// with its SHA-256, and kept until the earlier of both expiries.
// Fetches base + name (at most limit bytes) and base + name + ".sig", and takes them only when the
// current key signs the bytes, the section `headerSection` says kind and
// carries a serial and an expiry, the expiry is still ahead, and the serial is
// not below the highest one accepted for name under the same link of the
// chain. signing.ini then keeps its serial, that link and its expiry.
// Raises AppError with a text for the user that names `what` ("The update
// information") otherwise; an expired one's text says "expired". Once the
// expiry kept for name has passed, every failure but the user's ending the
// program is a refusal whose text says "expired on <that moment>". A
// signing.ini that is there but cannot be read refuses everything, with a
// text that says "delete <its path> to start again".
struct MetadataRequest {
    std::string base;           // TemplatesUrl or UpdateUrl
    std::string name;           // "manifest.txt"
    std::string headerSection;  // the section that says kind, serial and expires
    const char* kind;
    std::string what;           // "The update information"
    std::size_t limit = kMetadataLimit;
};
AcceptedMetadata fetchSignedMetadata(Screen& screen, HttpClient& http, const MetadataRequest& request,
                                     std::string* refused = nullptr);

// Raises when accepted metadata has expired since it was taken.
void checkStillCurrent(const AcceptedMetadata& metadata, const std::string& what);

// Tests only: forget the chains followed so far, as a new process would.
void forgetFollowedKeyChains();

}  // namespace quill
