#include "vendorkit/site_timestamps.h"

#include "platform/error.h"
#include "platform/files.h"
#include "vendorkit/site_builder.h"
#include "workspace/trust/signature.h"
#include "workspace/trust/signed_metadata.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>

namespace quill::vendorkit {

namespace fs = std::filesystem;

namespace {

struct Described {
    std::string base;  // kUpdateFolder or kTemplatesFolder
    std::string name;  // the file the timestamp there describes
    const char* kind;  // that file's kind
};

std::vector<Described> describedFiles() {
    return {{kUpdateFolder, "version.txt", kUpdateKind}, {kTemplatesFolder, kManifestFileName, kTemplatesKind}};
}

std::optional<std::string> readIfThere(const fs::path& path) {
    std::error_code error;
    if (!fs::exists(path, error)) return std::nullopt;
    std::string bytes;
    if (!platform::readWholeFile(path.string(), bytes)) throw AppError("Cannot read \"" + path.string() + "\"");
    return bytes;
}

std::optional<MetadataHeader> headerOf(const std::string& text, const char* kind) {
    const auto parsed = parseMetadata(text);
    if (!parsed) return std::nullopt;
    for (const auto& name : parsed->order) {
        const auto& section = parsed->sections.at(name);
        if (!section.count("kind")) continue;
        const auto header = metadataHeaderOf(section);
        return header && header->kind == kind ? header : std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::string timestampText(const std::string& describedName, const std::string& describedBytes,
                          const SigningStamp& stamp) {
    return "[timestamp]\r\nkind=" + std::string(kTimestampKind) + "\r\nserial=" + std::to_string(stamp.serial) +
           "\r\nexpires=" + formatUtcTime(stamp.expires) + "\r\n[" + describedName +
           "]\r\nsize=" + std::to_string(describedBytes.size()) + "\r\nsha256=" + sha256Hex(describedBytes) + "\r\n";
}

void requireOnlineKey(const std::vector<KeyLink>& chain, const SigningKey* online, const std::string& chainName) {
    const std::string named = chain.empty() ? std::string() : chain.back().onlineKey;
    if (named.empty()) {
        if (online)
            throw AppError("the last link of " + chainName +
                           " names no online key; add one with \"vendor_site rotate KEY KEY CHAIN --online ONLINE-KEY\"");
        return;
    }
    if (!online)
        throw AppError("the last link of " + chainName + " names an online key: give it with --online");
    if (online->publicKeyBase64() != named)
        throw AppError("the online key given is not " + named + ", the one the last link of " + chainName + " names");
}

std::uint64_t nextTimestampSerial(const std::string& siteFolder, std::int64_t now, const SigningKey& online) {
    const auto key = publicKeyFromBase64(online.publicKeyBase64());
    std::optional<std::uint64_t> highest;
    for (const auto& file : describedFiles()) {
        const fs::path path = fs::path(siteFolder) / file.base / kTimestampFileName;
        std::string text, signature;
        if (!platform::readWholeFile(path.string(), text) ||
            !platform::readWholeFile(path.string() + ".sig", signature) ||
            !signatureMatches(*key, text, signature))
            continue;
        if (const auto header = headerOf(text, kTimestampKind))
            highest = std::max(highest.value_or(0), header->serial);
    }
    std::uint64_t serial = static_cast<std::uint64_t>(std::max<std::int64_t>(now, 1));
    if (highest) {
        if (*highest >= kMostWholeNumber)
            throw AppError("the site's timestamp serial " + std::to_string(*highest) +
                           " is the highest there can be; name a new online key (\"vendor_site rotate KEY KEY "
                           "CHAIN --online NEW-ONLINE-KEY\"), whose serials start again from now");
        serial = std::max(serial, *highest + 1);
    }
    return serial;
}

std::vector<std::string> writeTimestamps(const std::string& siteFolder, const SigningKey& online,
                                         const SigningStamp& stamp) {
    std::vector<std::string> written;
    for (const auto& file : describedFiles()) {
        const fs::path folder = fs::path(siteFolder) / file.base;
        const auto described = readIfThere(folder / file.name);
        if (!described) continue;
        writeSignedFile((folder / kTimestampFileName).string(), timestampText(file.name, *described, stamp), online);
        written.push_back(file.base + kTimestampFileName);
        written.push_back(file.base + kTimestampFileName + ".sig");
    }
    return written;
}

Refreshed refreshTimestamps(const std::string& siteFolder, const SigningKey& online, std::int64_t expires) {
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    std::optional<std::int64_t> metadataExpires;
    // Every check before the first write: a refused site keeps its timestamps.
    for (const auto& file : describedFiles()) {
        const fs::path folder = fs::path(siteFolder) / file.base;
        const auto text = readIfThere(folder / file.name);
        if (!text) continue;
        // Each base is read with the chain published under it, as the program reads it.
        const auto chain = readKeyChain((folder / kKeysFolder).string());
        const std::string chainName = "the chain under " + (folder / kKeysFolder).string();
        if (chain.empty() || chain.back().onlineKey.empty())
            throw AppError((chain.empty() ? chainName + " is missing" : "the last link of " + chainName + " names no online key") +
                           "; a site without an online key is signed again with \"vendor_site resign\"");
        requireOnlineKey(chain, &online, chainName);
        const auto releaseKey = publicKeyFromBase64(chain.back().publicKey);
        std::string signature;
        if (!platform::readWholeFile((folder / file.name).string() + ".sig", signature) ||
            !signatureMatches(*releaseKey, *text, signature))
            throw AppError("\"" + (folder / file.name).string() + "\" is not signed by the release key " +
                           chain.back().publicKey + " that the site's chain ends in; sign the site with it first");
        const auto header = headerOf(*text, file.kind);
        if (!header)
            throw AppError("\"" + (folder / file.name).string() + "\" is not signed " + file.kind + " metadata");
        if (header->expires <= now)
            throw AppError("\"" + (folder / file.name).string() + "\" expired at " + formatUtcTime(header->expires) +
                           ": sign it again with the release key (\"vendor_site resign\")");
        metadataExpires = std::min(metadataExpires.value_or(header->expires), header->expires);
    }
    if (!metadataExpires)
        throw AppError("\"" + siteFolder + "\" holds neither " + kUpdateFolder + "version.txt nor " + kTemplatesFolder +
                       kManifestFileName);
    const SigningStamp stamp{nextTimestampSerial(siteFolder, now, online), expires};
    writeTimestamps(siteFolder, online, stamp);
    return {stamp, *metadataExpires};
}

}  // namespace quill::vendorkit
