#include "workspace/trust/vendor_metadata.h"

#include "platform/error.h"
#include "platform/files.h"
#include "workspace/change/file_ops.h"
#include "workspace/app/names.h"
#include "workspace/transfer/http_client.h"
#include "workspace/transfer/progress_sink.h"
#include "workspace/trust/vendor_key.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <map>
#include <vector>

namespace quill {

namespace {

// Far more links than a vendor will ever publish, and few enough that a site
// cannot keep a check running for ever.
constexpr int kMostLinks = 256;
constexpr std::size_t kLinkLimit = 4096;
constexpr std::size_t kTimestampLimit = 4096;

struct ChainEnd {
    PublicKey key;
    int link = 1;  // 1: the built-in key
    std::optional<PublicKey> online;
};

std::map<std::string, ChainEnd>& followedChains() {
    static std::map<std::string, ChainEnd> chains;
    return chains;
}

// Where signing.ini keeps the timestamp taken last for a file.
std::string timestampSection(const std::string& file) { return file + " timestamp"; }

std::string signingStatePath() { return AppDir + kSigningStateFileName; }

[[noreturn]] void refuse(std::string* refused, const std::string& text) {
    if (refused) *refused = text;
    throw AppError(text);
}

// What was accepted so far; nothing for a file that is not there. A file that
// is there but cannot be read raises, never reads as nothing seen: that would
// let an older signing back in.
MetadataText readSigningState(std::string* refused) {
    const std::string path = signingStatePath();
    const auto unreadable = [&](const std::string& why) {
        refuse(refused, "This program's record of what the vendor signed, \"" + path + "\", cannot be read: " + why +
                            ". If it was changed by hand, delete " + path + " to start again.");
    };
    if (!platform::pathExists(path)) return {};
    std::string text;
    if (!platform::readWholeFile(path, text)) unreadable("it cannot be opened");
    std::string why;
    auto parsed = parseSigningState(std::move(text), &why);
    if (!parsed) unreadable(why);
    return std::move(*parsed);
}

std::string keptText(const MetadataText& state, const std::string& section, const std::string& key) {
    const auto found = state.sections.find(section);
    if (found == state.sections.end()) return {};
    const auto value = found->second.find(key);
    return value == found->second.end() ? std::string() : value->second;
}

// Sound by now: readSigningState checked every value it keeps.
std::uint64_t keptNumber(const MetadataText& state, const std::string& section, const std::string& key,
                         std::uint64_t missing) {
    const std::string value = keptText(state, section, key);
    return value.empty() ? missing : *wholeNumber(value);
}

// The chain link whose key signed what is kept for a file. A record written
// before links were kept with each file holds the link recorded for the chain.
std::uint64_t keptLinkOf(const MetadataText& state, const std::string& file) {
    return keptNumber(state, file, "link", keptNumber(state, "keys", "link", 1));
}

// Whole, as every small file of the folder is written: a torn one would forget
// what was seen, and sections taken together are kept together.
void keep(const std::vector<std::pair<std::string, MetadataSection>>& sections, std::string* refused) {
    MetadataText state = readSigningState(refused);
    // Before the chain's record moves on, a serial recorded without its link
    // gets the one it belongs to, which the move would otherwise change.
    if (sections.size() == 1 && sections[0].first == "keys") {
        for (auto& [name, kept] : state.sections) {
            if (name != "keys" && kept.count("serial") && !kept.count("link"))
                kept["link"] = std::to_string(keptLinkOf(state, name));
        }
    }
    for (const auto& [section, values] : sections) {
        if (!state.sections.count(section)) state.order.push_back(section);
        for (const auto& [key, value] : values) state.sections[section][key] = value;
    }
    std::string text;
    for (const auto& name : state.order) {
        text += "[" + name + "]\r\n";
        for (const auto& [k, v] : state.sections[name]) text += k + "=" + v + "\r\n";
    }
    replaceFileWith(text, signingStatePath());
}

bool isNotFound(const AppError& error) {
    const std::string text = error.what();
    return text.rfind("HTTP/", 0) == 0 && text.find(" 404 ") != std::string::npos;
}

std::int64_t now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The next key, when the link's body names it and both keys sign it.
ChainLink followLink(const std::string& body, const std::string& signatures, const PublicKey& previous, int number,
                     const std::string& url, std::string* refused) {
    const auto broken = [&](const std::string& why) {
        refuse(refused, "The vendor's key chain is broken at \"" + url + "\": " + why);
    };
    const auto next = chainLinkOf(body, number);
    if (!next) broken("it is not key " + std::to_string(number) + ".");
    if (signatures.size() != 2 * kSignatureSize ||
        !signatureMatches(previous, body, std::string_view(signatures).substr(0, kSignatureSize)) ||
        !signatureMatches(next->key, body, std::string_view(signatures).substr(kSignatureSize))) {
        broken("its signatures are missing or not valid.");
    }
    return *next;
}

ChainEnd followChain(Screen& screen, HttpClient& http, const std::string& base, std::string* refused) {
    const auto found = followedChains().find(base);
    if (found != followedChains().end()) return found->second;
    const auto& builtIn = vendorPublicKey();
    if (!builtIn) throw AppError("This program was built without the vendor's key.");
    const MetadataText state = readSigningState(refused);
    PublicKey key = *builtIn;
    std::optional<PublicKey> online;
    int number = 1;
    const std::uint64_t seen = keptNumber(state, "keys", "link", 0);
    const std::string seenKey = keptText(state, "keys", "key");
    for (;;) {
        const std::string url = base + kKeysFolder + std::to_string(number + 1) + ".txt";
        std::string body;
        try {
            body = fetchShown(screen, http, url, kLinkLimit);
        } catch (const AppError& error) {
            if (screen.endRequested() || !isNotFound(error)) throw;
            break;  // the end of the chain
        }
        if (number + 1 > kMostLinks) refuse(refused, "The vendor's key chain at \"" + base + "\" does not end.");
        std::string signatures;
        try {
            signatures = fetchShown(screen, http, url + ".sig", 2 * kSignatureSize);
        } catch (const AppError&) {
            if (screen.endRequested()) throw;
            signatures.clear();  // told as a bad signature below
        }
        const ChainLink link = followLink(body, signatures, key, number + 1, url, refused);
        key = link.key;
        online = link.online;
        ++number;
        // Whoever holds an older key could fork the chain from it: the link
        // where this program stopped before must name the key it named then.
        if (static_cast<std::uint64_t>(number) == seen && !seenKey.empty() && publicKeyToBase64(key) != seenKey) {
            refuse(refused, "The vendor's key chain is broken at \"" + url +
                                "\": it names another key than the one this program accepted there.");
        }
    }
    if (static_cast<std::uint64_t>(number) < seen) {
        refuse(refused, "The vendor's key chain at \"" + base + "\" ends at key " + std::to_string(number) +
                            ", before key " + std::to_string(seen) +
                            " that this program has seen. The site may be out of date, or someone may be holding "
                            "back the vendor's newer key.");
    }
    // The built-in key is the first link: only a longer chain is news.
    if (number > 1 && static_cast<std::uint64_t>(number) > seen) {
        keep({{"keys", {{"link", std::to_string(number)}, {"key", publicKeyToBase64(key)}}}}, refused);
    }
    followedChains()[base] = {key, number, online};
    return {key, number, online};
}

// The highest serial kept for a section, as long as it was taken under this
// link of the chain or a later one: once the chain has moved on, whatever a
// retired or stolen key signed counts for nothing.
std::uint64_t serialSeen(const MetadataText& state, const std::string& section, int link) {
    return static_cast<std::uint64_t>(link) <= keptLinkOf(state, section) ? keptNumber(state, section, "serial", 0) : 0;
}

// The metadata's bytes, stopped as soon as they grow past what its timestamp describes.
class DescribedSink : public ByteSink {
public:
    explicit DescribedSink(std::uint64_t size) : size_(size) {}
    void begin(std::int64_t total) override {
        if (total >= 0 && static_cast<std::uint64_t>(total) > size_) stop();
    }
    void write(const char* data, std::size_t size) override {
        if (size > size_ - bytes.size()) stop();
        bytes.append(data, size);
    }
    std::string bytes;
    bool longer = false;

private:
    [[noreturn]] void stop() {
        longer = true;
        throw AppError("The server sent more than its timestamp describes.");
    }
    std::uint64_t size_;
};

std::string lowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

// The metadata's bytes as the chain's online key vouches for them now, and
// the timestamp that does. Refuses a timestamp that is missing, not signed by
// that key, of another kind, expired, older than one taken under this link,
// or that describes other bytes than the site sends.
std::string fetchVouchedFor(Screen& screen, HttpClient& http, const MetadataRequest& request, const ChainEnd& chain,
                            const MetadataText& state, std::string* refused, bool& servedExpired,
                            Timestamp& timestamp) {
    const std::string of = "The timestamp of " + lowerFirst(request.what);
    const std::string url = request.base + kTimestampFileName;
    std::string body;
    try {
        body = fetchShown(screen, http, url, kTimestampLimit);
    } catch (const AppError& error) {
        // A site that answers without one is refused; one that cannot be
        // reached is as silent as ever, until the freeze rule speaks.
        if (screen.endRequested() || !isNotFound(error)) throw;
        refuse(refused, of + " is missing from the vendor's site (\"" + url + "\").");
    }
    std::string signature;
    try {
        signature = fetchShown(screen, http, url + ".sig", kSignatureSize);
    } catch (const AppError&) {
        if (screen.endRequested()) throw;
    }
    if (!signatureMatches(*chain.online, body, signature)) refuse(refused, of + "'s signature is missing or not valid.");
    const auto taken = timestampOf(body, request.name);
    if (!taken || taken->header.kind != kTimestampKind) refuse(refused, of + " is not of the kind it should be.");
    if (taken->header.expires <= now()) {
        servedExpired = true;
        refuse(refused, of + " expired on " + formatUtcTime(taken->header.expires) +
                            ". The vendor's site may be out of date, or someone may be holding back newer "
                            "information.");
    }
    const std::uint64_t seen = serialSeen(state, timestampSection(request.name), chain.link);
    if (taken->header.serial < seen) {
        refuse(refused, of + " is older than what was seen before (serial " + std::to_string(taken->header.serial) +
                            ", where " + std::to_string(seen) + " was seen). Someone may be serving old information.");
    }
    timestamp = *taken;
    DescribedSink described(std::min<std::uint64_t>(timestamp.file.size, request.limit));
    try {
        ProgressSink sink(described, screen, ProgressSink::Display::Shown);
        http.fetch(request.base + request.name, sink);
    } catch (const AppError&) {
        if (screen.endRequested() || !described.longer) throw;
    }
    if (described.longer || described.bytes.size() != timestamp.file.size ||
        sha256Hex(described.bytes) != timestamp.file.sha256) {
        refuse(refused, request.what + " is not the one its timestamp describes.");
    }
    return std::move(described.bytes);
}

// The signed file taken as fetchSignedMetadata says. `servedExpired` is set
// when what the site sent is refused for having expired.
AcceptedMetadata takeSignedMetadata(Screen& screen, HttpClient& http, const MetadataRequest& request,
                                    std::string* refused, bool& servedExpired) {
    const ChainEnd chain = followChain(screen, http, request.base, refused);
    const std::string& what = request.what;
    AcceptedMetadata accepted;
    std::optional<Timestamp> timestamp;
    if (chain.online) {
        timestamp.emplace();
        accepted.bytes = fetchVouchedFor(screen, http, request, chain, readSigningState(refused), refused,
                                         servedExpired, *timestamp);
        accepted.timestampExpires = timestamp->header.expires;
    } else {
        accepted.bytes = fetchShown(screen, http, request.base + request.name, request.limit);
    }
    std::string signature;
    try {
        signature = fetchShown(screen, http, request.base + request.name + ".sig", kSignatureSize);
    } catch (const AppError&) {
        if (screen.endRequested()) throw;
    }
    if (!signatureMatches(chain.key, accepted.bytes, signature)) {
        refuse(refused, what + "'s signature is missing or not valid.");
    }
    auto text = parseMetadata(accepted.bytes);
    std::optional<MetadataHeader> header;
    if (text && text->sections.count(request.headerSection)) {
        header = metadataHeaderOf(text->sections.at(request.headerSection));
    }
    if (!header || header->kind != request.kind) {
        refuse(refused, what + " is not of the kind it should be.");
    }
    accepted.text = std::move(*text);
    accepted.header = *header;
    try {
        checkStillCurrent(accepted, what);
    } catch (const AppError& error) {
        servedExpired = true;
        refuse(refused, error.what());
    }
    const MetadataText state = readSigningState(refused);
    const std::uint64_t link = static_cast<std::uint64_t>(chain.link);
    const std::uint64_t seen = serialSeen(state, request.name, chain.link);
    if (header->serial < seen) {
        refuse(refused, what + " is older than what was seen before (serial " +
                            std::to_string(header->serial) + ", where " + std::to_string(seen) +
                            " was seen). Someone may be serving old information.");
    }
    const MetadataSection taken{{"serial", std::to_string(header->serial)},
                                {"link", std::to_string(link)},
                                {"expires", formatUtcTime(header->expires)}};
    std::vector<std::pair<std::string, MetadataSection>> kept{{request.name, taken}};
    if (timestamp) {
        kept.push_back({timestampSection(request.name),
                        {{"serial", std::to_string(timestamp->header.serial)},
                         {"link", std::to_string(link)},
                         {"expires", formatUtcTime(timestamp->header.expires)}}});
    }
    bool news = false;
    for (const auto& [section, values] : kept) {
        for (const auto& [key, value] : values) news = news || keptText(state, section, key) != value;
    }
    if (news) keep(kept, refused);
    return accepted;
}

}  // namespace

std::optional<MetadataText> parseSigningState(std::string text, std::string* why) {
    const auto fail = [&](const std::string& reason) {
        if (why) *why = reason;
        return std::nullopt;
    };
    // An editor's mark; the reader takes CR LF or LF and blanks around "=" already.
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    auto parsed = parseMetadata(text);
    if (!parsed) return fail("it is not a list of sections and key=value lines, each given once");
    for (const auto& [name, section] : parsed->sections) {
        for (const auto& [key, value] : section) {
            bool sound = true;
            if (key == "serial") {
                sound = wholeNumber(value).has_value();
            } else if (key == "link") {
                const auto link = wholeNumber(value);
                sound = link && *link >= 1 && *link <= static_cast<std::uint64_t>(kMostLinks);
            } else if (key == "expires") {
                sound = parseUtcTime(value).has_value();
            } else if (key == "key") {
                sound = publicKeyFromBase64(value).has_value();
            }  // anything else is kept as it is, for a later program that knows it
            if (!sound) return fail("\"" + key + "=" + value + "\" in [" + name + "] is not a value it keeps");
        }
    }
    return parsed;
}

PublicKey currentVendorKey(Screen& screen, HttpClient& http, const std::string& base, std::string* refused) {
    return followChain(screen, http, base, refused).key;
}

AcceptedMetadata fetchSignedMetadata(Screen& screen, HttpClient& http, const MetadataRequest& request,
                                     std::string* refused) {
    std::optional<std::int64_t> keptExpiry;
    bool servedExpired = false;
    try {
        const MetadataText state = readSigningState(refused);
        const std::string expires = keptText(state, request.name, "expires");
        if (!expires.empty()) keptExpiry = parseUtcTime(expires);
        // What was taken with a timestamp is current only as long as that
        // timestamp; one kept from an earlier link says nothing of what came since.
        const std::string vouched = keptText(state, timestampSection(request.name), "expires");
        if (keptExpiry && !vouched.empty() &&
            keptLinkOf(state, timestampSection(request.name)) == keptLinkOf(state, request.name)) {
            keptExpiry = std::min(*keptExpiry, *parseUtcTime(vouched));
        }
        return takeSignedMetadata(screen, http, request, refused, servedExpired);
    } catch (const AppError& error) {
        // Whoever can hold back newer information can as well make every
        // fetch of it fail: once what was last taken has expired, any
        // failure is told, whatever its cause.
        if (screen.endRequested() || servedExpired || !keptExpiry || *keptExpiry > now()) throw;
        refuse(refused, request.what + " expired on " + formatUtcTime(*keptExpiry) +
                            ", and no newer could be taken (" + error.what() +
                            "). The vendor's site may be out of date, or someone may be holding back newer "
                            "information.");
    }
}

void checkStillCurrent(const AcceptedMetadata& metadata, const std::string& what) {
    const std::int64_t expires = std::min(metadata.header.expires, metadata.timestampExpires.value_or(INT64_MAX));
    if (expires > now()) return;
    throw AppError(what + " expired on " + formatUtcTime(expires) +
                   ". The vendor's site may be out of date, or someone may be holding back newer information.");
}

void forgetFollowedKeyChains() { followedChains().clear(); }

}  // namespace quill
