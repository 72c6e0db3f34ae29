#include "vendorkit/signed_site.h"

#include "platform/error.h"
#include "platform/files.h"
#include "vendorkit/site_builder.h"
#include "workspace/trust/signature.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

namespace quill::vendorkit {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kDay = 24 * 60 * 60;
const std::string kVersionFileName = "version.txt";

std::string readBytes(const fs::path& path) {
    std::string bytes;
    if (!platform::readWholeFile(path.string(), bytes)) throw AppError("Cannot read \"" + path.string() + "\"");
    return bytes;
}

// Written under a temporary name first and renamed into place, so a reader
// sees the old file or the new one, never half of it.
fs::path writeAside(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    const fs::path temporary = path.string() + ".new";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw AppError("Cannot write \"" + path.string() + "\"");
    }
    return temporary;
}

void moveIntoPlace(const fs::path& temporary, const fs::path& path) {
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) throw AppError("Cannot write \"" + path.string() + "\": " + error.message());
}

void writeReplacing(const fs::path& path, const std::string& bytes) { moveIntoPlace(writeAside(path, bytes), path); }

// Both files are ready before either is renamed, so the site shows a text
// with the signature of another for as short a time as can be.
void writeSigned(const fs::path& path, const std::string& text, const SigningKey& signer) {
    const fs::path sigPath = path.string() + ".sig";
    const fs::path signature = writeAside(sigPath, signer.sign(text));
    const fs::path body = writeAside(path, text);
    moveIntoPlace(body, path);
    moveIntoPlace(signature, sigPath);
}

std::string stampLines(const char* kind, const SigningStamp& stamp) {
    return std::string("kind=") + kind + "\r\nserial=" + std::to_string(stamp.serial) +
           "\r\nexpires=" + formatUtcTime(stamp.expires) + "\r\n";
}

// A name that would end its line or its section where the reader does not expect it.
void requireSectionName(const std::string& name) {
    if (name.empty() || name.find_first_of("[]\r\n") != std::string::npos || name != std::string(name.c_str()))
        throw AppError("\"" + name + "\" cannot name a section of signed metadata");
}

struct SignedText {
    std::string bytes;
    MetadataText parsed;
    std::string headerSection;
    MetadataHeader header;
};

// A signed metadata file as the program reads it, or nullopt when it is
// missing; AppError when it is there but not signed metadata of this kind.
std::optional<SignedText> readSignedText(const fs::path& path, const char* kind) {
    std::error_code error;
    if (!fs::exists(path, error)) return std::nullopt;
    SignedText text;
    text.bytes = readBytes(path);
    auto parsed = parseMetadata(text.bytes);
    if (!parsed) throw AppError("\"" + path.string() + "\" is not metadata the program reads");
    text.parsed = std::move(*parsed);
    for (const auto& name : text.parsed.order) {
        const auto& section = text.parsed.sections.at(name);
        if (!section.count("kind")) continue;
        const auto header = metadataHeaderOf(section);
        if (!header || header->kind != kind) break;
        text.headerSection = name;
        text.header = *header;
        return text;
    }
    throw AppError("\"" + path.string() + "\" is not signed " + kind +
                   " metadata (build the site with --sign first)");
}

// The text with serial= and expires= of its header section replaced, every
// other byte as it was.
std::string restamped(const SignedText& text, const SigningStamp& stamp) {
    std::string out;
    std::string section;
    std::string_view rest = text.bytes;
    while (!rest.empty()) {
        const auto cut = rest.find('\n');
        const std::string_view line = rest.substr(0, cut == std::string_view::npos ? rest.size() : cut + 1);
        rest.remove_prefix(line.size());
        std::string_view body = line;
        while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
        const std::string_view ending = line.substr(body.size());
        std::string_view trimmed = body;
        while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t')) trimmed.remove_prefix(1);
        if (!trimmed.empty() && trimmed.front() == '[') {
            const auto close = trimmed.rfind(']');
            section = std::string(trimmed.substr(1, close == std::string_view::npos ? 0 : close - 1));
        }
        std::string key;
        if (const auto equals = trimmed.find('='); equals != std::string_view::npos) {
            key = std::string(trimmed.substr(0, equals));
            while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
        }
        if (section == text.headerSection && key == "serial")
            out += "serial=" + std::to_string(stamp.serial) + std::string(ending);
        else if (section == text.headerSection && key == "expires")
            out += "expires=" + formatUtcTime(stamp.expires) + std::string(ending);
        else
            out += line;
    }
    return out;
}

void requireArchiveAsListed(const fs::path& archive, const MetadataSection& section, const fs::path& listedIn) {
    const auto listed = signedArchiveOf(section);
    const SignedArchive actual = describeArchive(archive.string());
    if (!listed || listed->size != actual.size || listed->sha256 != actual.sha256)
        throw AppError("\"" + archive.string() + "\" is not the archive that " + listedIn.string() +
                       " describes; rebuild the site instead of signing it again");
}

bool isLinkNumber(const std::string& text) {
    return !text.empty() && text.size() < 9 && text.find_first_not_of("0123456789") == std::string::npos &&
           text[0] != '0';
}

}  // namespace

std::int64_t defaultExpiry(std::int64_t now, int days) {
    const std::int64_t today = now - ((now % kDay) + kDay) % kDay;
    return today + days * kDay;
}

std::int64_t expiryOfDate(const std::string& date) {
    const auto moment = date.size() == 10 ? parseUtcTime(date + "T00:00:00Z") : std::nullopt;
    if (!moment) throw AppError("\"" + date + "\" is not a date such as 2027-01-31");
    return *moment;
}

SignedArchive describeArchive(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw AppError("Cannot read the archive \"" + path + "\"");
    Sha256 hash;
    SignedArchive archive;
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        hash.add(buffer.data(), got);
        archive.size += got;
    }
    if (in.bad()) throw AppError("Cannot read the archive \"" + path + "\"");
    archive.sha256 = hash.hex();
    return archive;
}

std::optional<std::uint64_t> highestSerial(const std::string& siteFolder, const SigningKey* signer) {
    std::optional<std::uint64_t> highest;
    const fs::path site(siteFolder);
    const auto signerKey = signer ? publicKeyFromBase64(signer->publicKeyBase64()) : std::nullopt;
    for (const auto& [file, kind] : {std::pair{site / kUpdateFolder / kVersionFileName, kUpdateKind},
                                     std::pair{site / kTemplatesFolder / kManifestFileName, kTemplatesKind}}) {
        try {
            const auto text = readSignedText(file, kind);
            if (!text) continue;
            // The program holds a serial against the key that signed it only:
            // what an older key signed does not hold the new one back.
            std::string signature;
            if (signerKey && (!platform::readWholeFile(file.string() + ".sig", signature) ||
                              !signatureMatches(*signerKey, text->bytes, signature)))
                continue;
            highest = std::max(highest.value_or(0), text->header.serial);
        } catch (const AppError&) {
            // Not signed metadata: it raises no floor.
        }
    }
    return highest;
}

std::uint64_t nextSerial(const std::string& siteFolder, std::int64_t now, const SigningKey* signer) {
    std::uint64_t serial = static_cast<std::uint64_t>(std::max<std::int64_t>(now, 1));
    if (const auto highest = highestSerial(siteFolder, signer)) {
        // One more than the most there can be is a serial the program refuses.
        if (*highest >= kMostWholeNumber)
            throw AppError("the site's serial " + std::to_string(*highest) +
                           " is the highest a signing can carry; sign with a new key (\"vendor_site rotate\"), "
                           "whose serials start again from now");
        serial = std::max(serial, *highest + 1);
    }
    return serial;
}

std::string versionFileText(const SiteVersion& version, const SignedArchive& archive, const SigningStamp& stamp) {
    requireSectionName(version.section);
    return "[" + version.section + "]\r\nversion=" + version.version + "\r\nfile=" + version.file +
           "\r\nsize=" + std::to_string(archive.size) + "\r\nsha256=" + archive.sha256 + "\r\n" +
           stampLines(kUpdateKind, stamp);
}

std::string manifestText(const std::vector<std::pair<std::string, SignedArchive>>& archives,
                         const SigningStamp& stamp) {
    std::string text = "[manifest]\r\n" + stampLines(kTemplatesKind, stamp);
    std::vector<std::string> seen{"manifest"};
    for (const auto& [name, archive] : archives) {
        requireSectionName(name);
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            throw AppError("\"" + name + "\" is named twice in the manifest, or names its header");
        seen.push_back(name);
        text += "[" + name + "]\r\nsize=" + std::to_string(archive.size) + "\r\nsha256=" + archive.sha256 + "\r\n";
    }
    return text;
}

void writeSignedVersionFile(const std::string& updateFolder, const SiteVersion& version, const SigningKey& signer,
                            const SigningStamp& stamp) {
    const fs::path folder(updateFolder);
    const SignedArchive archive = describeArchive((folder / version.file).string());
    writeSigned(folder / kVersionFileName, versionFileText(version, archive, stamp), signer);
}

void writeSignedManifest(const std::string& templatesFolder, const std::vector<std::string>& archives,
                         const SigningKey& signer, const SigningStamp& stamp) {
    const fs::path folder(templatesFolder);
    std::vector<std::pair<std::string, SignedArchive>> listed;
    for (const auto& name : archives) listed.emplace_back(name, describeArchive((folder / name).string()));
    writeSigned(folder / kManifestFileName, manifestText(listed, stamp), signer);
}

std::string keyLinkText(int number, const std::string& publicKeyBase64, const std::string& onlineKeyBase64) {
    return windowsText("[key]\nkind=" + std::string(kKeyKind) + "\nnumber=" + std::to_string(number) +
                       "\nkey=" + publicKeyBase64 + (onlineKeyBase64.empty() ? "" : "\nonline=" + onlineKeyBase64));
}

void writeSignedFile(const std::string& path, const std::string& text, const SigningKey& signer) {
    writeSigned(path, text, signer);
}

std::vector<KeyLink> readKeyChain(const std::string& chainFolder) {
    const fs::path folder(chainFolder);
    std::error_code error;
    std::vector<int> numbers;
    if (fs::is_directory(folder, error)) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 4 && name.ends_with(".txt") && isLinkNumber(name.substr(0, name.size() - 4)))
                numbers.push_back(std::stoi(name.substr(0, name.size() - 4)));
        }
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<KeyLink> chain;
    std::optional<PublicKey> previous;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const int number = static_cast<int>(i) + 2;
        const fs::path link = folder / (std::to_string(number) + ".txt");
        if (numbers[i] != number) throw AppError("the chain in \"" + chainFolder + "\" has no link " + link.filename().string());
        const std::string text = readBytes(link);
        // Only the one form the tool writes: read as the program reads it,
        // then required to be exactly what the tool would write for it.
        const auto parsed = parseMetadata(text);
        std::string keyText, onlineText;
        if (parsed && parsed->sections.count("key")) {
            const MetadataSection& section = parsed->sections.at("key");
            if (const auto found = section.find("key"); found != section.end()) keyText = found->second;
            if (const auto found = section.find("online"); found != section.end()) onlineText = found->second;
        }
        const auto key = publicKeyFromBase64(keyText);
        if (!key || (!onlineText.empty() && !publicKeyFromBase64(onlineText)) ||
            text != keyLinkText(number, keyText, onlineText))
            throw AppError("\"" + link.string() + "\" is not a link of a key chain");
        std::string signatures;
        if (!platform::readWholeFile(link.string() + ".sig", signatures) || signatures.size() != 2 * kSignatureSize ||
            (previous && !signatureMatches(*previous, text, signatures.substr(0, kSignatureSize))) ||
            !signatureMatches(*key, text, signatures.substr(kSignatureSize)))
            throw AppError("\"" + link.string() + ".sig\" does not sign the link with the keys before and in it");
        chain.push_back({number, keyText, onlineText});
        previous = key;
    }
    return chain;
}

void requireLastKey(const std::vector<KeyLink>& chain, const SigningKey& signer, const std::string& chainName) {
    if (!chain.empty() && chain.back().publicKey != signer.publicKeyBase64())
        throw AppError("the key given is not key " + std::to_string(chain.back().number) + ", the last of " +
                       chainName + "; the program takes nothing else once it has followed the chain");
}

KeyLink addKeyLink(const std::string& chainFolder, const SigningKey& oldKey, const SigningKey& newKey,
                   const SigningKey* onlineKey) {
    const std::vector<KeyLink> chain = readKeyChain(chainFolder);
    if (!chain.empty() && chain.back().publicKey != oldKey.publicKeyBase64())
        throw AppError("the old key is not key " + std::to_string(chain.back().number) + ", the last of the chain in \"" +
                       chainFolder + "\"");
    const std::string publicKey = newKey.publicKeyBase64();
    const std::string online = onlineKey ? onlineKey->publicKeyBase64() : std::string();
    const auto named = [&](const std::string& key) {
        return key == oldKey.publicKeyBase64() ||
               std::any_of(chain.begin(), chain.end(), [&](const KeyLink& l) { return l.publicKey == key; });
    };
    // Going back to a key retired before would make a loop; staying on the
    // last one is how an online key is added or replaced.
    if (publicKey != oldKey.publicKeyBase64() && named(publicKey))
        throw AppError("the new key is in the chain already; make a new one with \"vendor_site keygen\"");
    // A release key on the online machine would undo the split.
    if (!online.empty() && (online == publicKey || named(online)))
        throw AppError("the online key is a release key of the chain; make one of its own with \"vendor_site keygen\"");
    const std::string lastOnline = chain.empty() ? std::string() : chain.back().onlineKey;
    if (publicKey == oldKey.publicKeyBase64() && online == lastOnline)
        throw AppError(online.empty() ? "the new key is the old one and no online key is given: the link would change nothing"
                                      : "the link would name the release key and the online key that the last one names");

    const KeyLink link{static_cast<int>(chain.size()) + 2, publicKey, online};
    const std::string text = keyLinkText(link.number, publicKey, online);
    const fs::path path = fs::path(chainFolder) / (std::to_string(link.number) + ".txt");
    writeReplacing(path.string() + ".sig", oldKey.sign(text) + newKey.sign(text));
    writeReplacing(path, text);
    return link;
}

std::vector<std::string> publishKeyChain(const std::string& chainFolder, const std::string& siteFolder) {
    const std::vector<KeyLink> chain = readKeyChain(chainFolder);
    if (chain.empty()) throw AppError("\"" + chainFolder + "\" holds no links of a key chain (see \"vendor_site rotate\")");
    std::vector<std::string> written;
    for (const std::string& base : {kTemplatesFolder, kUpdateFolder}) {
        for (const auto& link : chain) {
            for (const std::string& name : {std::to_string(link.number) + ".txt", std::to_string(link.number) + ".txt.sig"}) {
                const std::string relative = base + kKeysFolder + name;
                writeReplacing(fs::path(siteFolder) / relative, readBytes(fs::path(chainFolder) / name));
                written.push_back(relative);
            }
        }
    }
    return written;
}

SigningStamp resignSite(const std::string& siteFolder, const SigningKey& signer, std::int64_t expires) {
    const fs::path site(siteFolder);
    const fs::path versionPath = site / kUpdateFolder / kVersionFileName;
    const fs::path manifestPath = site / kTemplatesFolder / kManifestFileName;
    const auto version = readSignedText(versionPath, kUpdateKind);
    const auto manifest = readSignedText(manifestPath, kTemplatesKind);
    if (!version && !manifest) throw AppError("\"" + siteFolder + "\" holds neither " + kUpdateFolder + kVersionFileName +
                                              " nor " + kTemplatesFolder + kManifestFileName);
    requireLastKey(readKeyChain((site / kTemplatesFolder / kKeysFolder).string()), signer, "the chain the site publishes");

    // Signing again vouches for the archives anew: only for the ones signed before.
    if (version) {
        const auto& section = version->parsed.sections.at(version->headerSection);
        const auto file = section.find("file");
        if (file == section.end()) throw AppError("\"" + versionPath.string() + "\" names no file");
        requireArchiveAsListed(site / kUpdateFolder / file->second, section, versionPath);
    }
    if (manifest) {
        for (const auto& name : manifest->parsed.order)
            if (name != manifest->headerSection)
                requireArchiveAsListed(site / kTemplatesFolder / name, manifest->parsed.sections.at(name), manifestPath);
    }

    const SigningStamp stamp{nextSerial(siteFolder, static_cast<std::int64_t>(std::time(nullptr)), &signer), expires};
    if (version) writeSigned(versionPath, restamped(*version, stamp), signer);
    if (manifest) writeSigned(manifestPath, restamped(*manifest, stamp), signer);
    return stamp;
}

}  // namespace quill::vendorkit
