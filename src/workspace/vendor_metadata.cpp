#include "workspace/vendor_metadata.h"

#include "platform/error.h"
#include "platform/files.h"
#include "workspace/file_ops.h"
#include "workspace/names.h"
#include "workspace/progress_sink.h"
#include "workspace/vendor_key.h"

#include <ctime>
#include <map>

namespace quill {

namespace {

// Far more links than a vendor will ever publish, and few enough that a site
// cannot keep a check running for ever.
constexpr int kMostLinks = 256;
constexpr std::size_t kLinkLimit = 4096;

std::map<std::string, std::pair<PublicKey, int>>& followedChains() {
    static std::map<std::string, std::pair<PublicKey, int>> chains;
    return chains;
}

std::string signingStatePath() { return AppDir + kSigningStateFileName; }

// The highest numbers accepted so far; a file that cannot be read holds none.
MetadataText readSigningState() {
    std::string text;
    if (!platform::readWholeFile(signingStatePath(), text)) return {};
    auto parsed = parseMetadata(text);
    return parsed ? std::move(*parsed) : MetadataText{};
}

std::string keptText(const std::string& section, const std::string& key) {
    const MetadataText state = readSigningState();
    const auto found = state.sections.find(section);
    if (found == state.sections.end()) return {};
    const auto value = found->second.find(key);
    return value == found->second.end() ? std::string() : value->second;
}

std::uint64_t keptNumber(const std::string& section, const std::string& key) {
    const std::string value = keptText(section, key);
    if (value.empty()) return 0;
    try {
        return std::stoull(value);
    } catch (const std::exception&) {
        return 0;
    }
}

// Whole, as every small file of the folder is written: a torn one would forget what was seen.
void keep(const std::string& section, const MetadataSection& values) {
    MetadataText state = readSigningState();
    if (!state.sections.count(section)) state.order.push_back(section);
    for (const auto& [key, value] : values) state.sections[section][key] = value;
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

[[noreturn]] void refuse(std::string* refused, const std::string& text) {
    if (refused) *refused = text;
    throw AppError(text);
}

std::int64_t now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The next key, when the link's body names it and both keys sign it.
PublicKey followLink(const std::string& body, const std::string& signatures, const PublicKey& previous, int number,
                     const std::string& url, std::string* refused) {
    const auto broken = [&](const std::string& why) {
        refuse(refused, "The vendor's key chain is broken at \"" + url + "\": " + why);
    };
    const auto parsed = parseMetadata(body);
    const MetadataSection* section = nullptr;
    if (parsed && parsed->sections.count("key")) section = &parsed->sections.at("key");
    if (!section || !section->count("kind") || section->at("kind") != kKeyKind || !section->count("number") ||
        section->at("number") != std::to_string(number) || !section->count("key")) {
        broken("it is not key " + std::to_string(number) + ".");
    }
    const auto next = publicKeyFromBase64(section->at("key"));
    if (!next) broken("it names no key.");
    if (signatures.size() != 2 * kSignatureSize ||
        !signatureMatches(previous, body, std::string_view(signatures).substr(0, kSignatureSize)) ||
        !signatureMatches(*next, body, std::string_view(signatures).substr(kSignatureSize))) {
        broken("its signatures are missing or not valid.");
    }
    return *next;
}

}  // namespace

PublicKey currentVendorKey(Screen& screen, HttpClient& http, const std::string& base, std::string* refused) {
    const auto found = followedChains().find(base);
    if (found != followedChains().end()) return found->second.first;
    const auto& builtIn = vendorPublicKey();
    if (!builtIn) throw AppError("This program was built without the vendor's key.");
    PublicKey key = *builtIn;
    int number = 1;
    const std::uint64_t seen = keptNumber("keys", "link");
    const std::string seenKey = keptText("keys", "key");
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
        key = followLink(body, signatures, key, number + 1, url, refused);
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
        keep("keys", {{"link", std::to_string(number)}, {"key", publicKeyToBase64(key)}});
    }
    followedChains()[base] = {key, number};
    return key;
}

AcceptedMetadata fetchSignedMetadata(Screen& screen, HttpClient& http, const MetadataRequest& request,
                                     std::string* refused) {
    const PublicKey key = currentVendorKey(screen, http, request.base, refused);
    const std::string& what = request.what;
    AcceptedMetadata accepted;
    accepted.bytes = fetchShown(screen, http, request.base + request.name, request.limit);
    std::string signature;
    try {
        signature = fetchShown(screen, http, request.base + request.name + ".sig", kSignatureSize);
    } catch (const AppError&) {
        if (screen.endRequested()) throw;
    }
    if (!signatureMatches(key, accepted.bytes, signature)) {
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
        refuse(refused, error.what());
    }
    const std::uint64_t seen = keptNumber(request.name, "serial");
    if (header->serial < seen) {
        refuse(refused, what + " is older than what was seen before (serial " +
                            std::to_string(header->serial) + ", where " + std::to_string(seen) +
                            " was seen). Someone may be serving old information.");
    }
    if (header->serial > seen) keep(request.name, {{"serial", std::to_string(header->serial)}});
    return accepted;
}

void checkStillCurrent(const AcceptedMetadata& metadata, const std::string& what) {
    if (metadata.header.expires > now()) return;
    throw AppError(what + " expired on " + formatUtcTime(metadata.header.expires) +
                   ". The vendor's site may be out of date, or someone may be holding back newer information.");
}

void forgetFollowedKeyChains() { followedChains().clear(); }

}  // namespace quill
