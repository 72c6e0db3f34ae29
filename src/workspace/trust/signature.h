// Ed25519 signatures over what the vendor publishes: keys and signatures as
// they are written down (base64), and the check itself, done by OpenSSL.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quill {

inline constexpr std::size_t kPublicKeySize = 32;
inline constexpr std::size_t kSignatureSize = 64;

struct PublicKey {
    std::array<unsigned char, kPublicKeySize> bytes{};
};

// Standard base64 (A-Z a-z 0-9 + /) with its "=" padding. Returns nullopt for
// anything else: blanks, line breaks, the URL alphabet, a missing "=".
std::optional<std::string> decodeBase64(std::string_view text);
std::string encodeBase64(std::string_view bytes);

// The key that a base64 text holds; nullopt unless it is exactly 32 bytes.
std::optional<PublicKey> publicKeyFromBase64(std::string_view text);
std::string publicKeyToBase64(const PublicKey& key);

// Whether signature is 64 bytes and is key's Ed25519 signature over exactly
// message. Bad input of any kind gives false; raises only std::bad_alloc.
bool signatureMatches(const PublicKey& key, std::string_view message, std::string_view signature);

}  // namespace quill
