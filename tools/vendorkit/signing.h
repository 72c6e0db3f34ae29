// The vendor's Ed25519 key pair (OpenSSL): making it, and signing with its
// private half what a site publishes, so the program can check it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct evp_pkey_st;

namespace quill::vendorkit {

// Makes a new key pair and writes its private key to keyFile (PKCS#8 PEM),
// created readable and writable by its owner only. Refuses a path that exists.
// Returns the public key in base64, as the program's build takes it. Raises AppError.
std::string generateSigningKey(const std::string& keyFile);

class SigningKey {
public:
    // Reads a private key that generateSigningKey wrote. Raises AppError when the
    // file cannot be read or holds no Ed25519 private key.
    explicit SigningKey(const std::string& keyFile);
    // A new key pair held in memory only, for tests that need a key and no file.
    static SigningKey generate();
    ~SigningKey();
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    std::string publicKeyBase64() const;

    // The 64-byte signature over exactly these bytes.
    std::string sign(std::string_view bytes) const;

private:
    explicit SigningKey(std::shared_ptr<evp_pkey_st> key);
    std::shared_ptr<evp_pkey_st> key_;
};

}  // namespace quill::vendorkit
