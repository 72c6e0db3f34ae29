#include "workspace/trust/signature.h"

#include <algorithm>
#include <memory>
#include <new>
#include <openssl/evp.h>

namespace quill {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

bool isBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    // OpenSSL's block decoder skips blanks and keeps the padding's zero bytes;
    // checking the text first leaves it only well-formed input.
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    for (std::size_t i = 0; i + padding < text.size(); ++i)
        if (!isBase64Letter(text[i])) return std::nullopt;
    if (text.empty()) return std::string();

    std::string bytes(text.size() / 4 * 3, '\0');
    const int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (decoded < 0 || static_cast<std::size_t>(decoded) != bytes.size()) return std::nullopt;
    bytes.resize(bytes.size() - padding);
    // The last letter's unused bits must be zero: else one key has many
    // texts, and a text compared with the one this program writes would differ.
    if (encodeBase64(bytes) != text) return std::nullopt;
    return bytes;
}

std::string encodeBase64(std::string_view bytes) {
    std::string text((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(written));
    return text;
}

std::string publicKeyToBase64(const PublicKey& key) {
    return encodeBase64(std::string(reinterpret_cast<const char*>(key.bytes.data()), key.bytes.size()));
}

std::optional<PublicKey> publicKeyFromBase64(std::string_view text) {
    const auto bytes = decodeBase64(text);
    if (!bytes || bytes->size() != kPublicKeySize) return std::nullopt;
    PublicKey key;
    std::copy(bytes->begin(), bytes->end(), key.bytes.begin());
    return key;
}

bool signatureMatches(const PublicKey& key, std::string_view message, std::string_view signature) {
    if (signature.size() != kSignatureSize) return false;
    std::unique_ptr<EVP_PKEY, PkeyFree> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.bytes.data(), key.bytes.size()));
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
    if (!context) throw std::bad_alloc();
    if (!pkey) return false;
    // Ed25519 hashes the message itself: no digest is named, and it is checked in one pass.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

}  // namespace quill
