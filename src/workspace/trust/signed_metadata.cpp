#include "workspace/trust/signed_metadata.h"

#include <openssl/evp.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <new>

namespace quill {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

const std::string* valueOf(const MetadataSection& section, const char* key) {
    const auto found = section.find(key);
    return found == section.end() ? nullptr : &found->second;
}

}  // namespace

std::optional<std::uint64_t> wholeNumber(std::string_view text) {
    std::uint64_t value = 0;
    if (text.empty() || text.size() > kMostDigits) return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<MetadataText> parseMetadata(std::string_view text) {
    MetadataText parsed;
    MetadataSection* current = nullptr;
    while (!text.empty()) {
        const auto cut = text.find('\n');
        std::string_view line = text.substr(0, cut);
        text.remove_prefix(cut == std::string_view::npos ? text.size() : cut + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trimmed(line);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.size() < 3 || line.back() != ']') return std::nullopt;
            const std::string name(line.substr(1, line.size() - 2));
            if (name.find_first_of("[]") != std::string::npos || parsed.sections.count(name)) return std::nullopt;
            current = &parsed.sections[name];
            parsed.order.push_back(name);
            continue;
        }
        const auto equals = line.find('=');
        if (!current || equals == std::string_view::npos || equals == 0) return std::nullopt;
        const std::string key(trimmed(line.substr(0, equals)));
        if (!current->emplace(key, std::string(trimmed(line.substr(equals + 1)))).second) return std::nullopt;
    }
    return parsed;
}

std::optional<MetadataHeader> metadataHeaderOf(const MetadataSection& section) {
    const std::string* kind = valueOf(section, "kind");
    const std::string* serial = valueOf(section, "serial");
    const std::string* expires = valueOf(section, "expires");
    if (!kind || !serial || !expires) return std::nullopt;
    const auto serialNumber = wholeNumber(*serial);
    const auto expiry = parseUtcTime(*expires);
    if (!serialNumber || !expiry) return std::nullopt;
    return MetadataHeader{*kind, *serialNumber, *expiry};
}

std::optional<SignedArchive> signedArchiveOf(const MetadataSection& section) {
    const std::string* size = valueOf(section, "size");
    const std::string* sha256 = valueOf(section, "sha256");
    if (!size || !sha256 || sha256->size() != 64 ||
        sha256->find_first_not_of("0123456789abcdef") != std::string::npos) {
        return std::nullopt;
    }
    const auto bytes = wholeNumber(*size);
    if (!bytes) return std::nullopt;
    return SignedArchive{*bytes, *sha256};
}

std::optional<PublicKey> keyOfLink(std::string_view body, int number) {
    const auto link = chainLinkOf(body, number);
    if (!link) return std::nullopt;
    return link->key;
}

std::optional<ChainLink> chainLinkOf(std::string_view body, int number) {
    const auto parsed = parseMetadata(body);
    if (!parsed || !parsed->sections.count("key")) return std::nullopt;
    const MetadataSection& section = parsed->sections.at("key");
    const std::string* kind = valueOf(section, "kind");
    const std::string* linkNumber = valueOf(section, "number");
    const std::string* key = valueOf(section, "key");
    if (!kind || *kind != kKeyKind || !linkNumber || *linkNumber != std::to_string(number) || !key) return std::nullopt;
    const auto next = publicKeyFromBase64(*key);
    if (!next) return std::nullopt;
    ChainLink link{*next, std::nullopt};
    // A link whose online key cannot be read must not pass as one without:
    // that would drop the timestamps it asks for.
    if (const std::string* online = valueOf(section, "online")) {
        link.online = publicKeyFromBase64(*online);
        if (!link.online) return std::nullopt;
    }
    return link;
}

std::optional<Timestamp> timestampOf(std::string_view body, const std::string& name) {
    const auto parsed = parseMetadata(body);
    if (!parsed || !parsed->sections.count("timestamp") || name == "timestamp" || !parsed->sections.count(name)) {
        return std::nullopt;
    }
    const auto header = metadataHeaderOf(parsed->sections.at("timestamp"));
    const auto file = signedArchiveOf(parsed->sections.at(name));
    if (!header || !file) return std::nullopt;
    return Timestamp{*header, *file};
}

std::optional<std::int64_t> parseUtcTime(std::string_view text) {
    // Exactly one form, so that two readers never disagree on a moment.
    static constexpr std::string_view shape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != shape.size()) return std::nullopt;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != shape[i]) return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
        return value;
    };
    std::tm moment{};
    moment.tm_year = number(0, 4) - 1900;
    moment.tm_mon = number(5, 2) - 1;
    moment.tm_mday = number(8, 2);
    moment.tm_hour = number(11, 2);
    moment.tm_min = number(14, 2);
    moment.tm_sec = number(17, 2);
    const std::tm asGiven = moment;
    const std::time_t seconds = timegm(&moment);
    // timegm carries 2026-02-30 over into March; such a date is no date.
    if (moment.tm_mday != asGiven.tm_mday || moment.tm_mon != asGiven.tm_mon || moment.tm_hour != asGiven.tm_hour ||
        moment.tm_min != asGiven.tm_min || moment.tm_sec != asGiven.tm_sec) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(seconds);
}

std::string formatUtcTime(std::int64_t seconds) {
    const std::time_t at = static_cast<std::time_t>(seconds);
    std::tm moment{};
    gmtime_r(&at, &moment);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", moment.tm_year + 1900, moment.tm_mon + 1,
                  moment.tm_mday, moment.tm_hour, moment.tm_min, moment.tm_sec);
    return text;
}

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
        throw std::bad_alloc();
    }
}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_)); }

void Sha256::add(const char* data, std::size_t size) {
    EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, size);
}

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), digest, &length);
    static const char* const digits = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

std::string sha256Hex(std::string_view bytes) {
    Sha256 hash;
    hash.add(bytes.data(), bytes.size());
    return hash.hex();
}

}  // namespace quill
