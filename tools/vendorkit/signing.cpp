#include "vendorkit/signing.h"

#include "platform/error.h"
#include "platform/files.h"
#include "workspace/trust/signature.h"

#include <cerrno>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace quill::vendorkit {

namespace {

struct Free {
    void operator()(BIO* bio) const { BIO_free(bio); }
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

[[noreturn]] void fail(const std::string& what) {
    ERR_clear_error();
    throw AppError(what);
}

std::string pemOf(EVP_PKEY* key) {
    std::unique_ptr<BIO, Free> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        fail("The private key cannot be written out");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

// Created new, never over an existing file, and owner-only whatever the umask says.
void writePrivateFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        if (errno == EEXIST) throw AppError("\"" + path + "\" exists already; a key is never overwritten");
        throw AppError("Cannot create \"" + path + "\": " + platform::systemErrorText(errno));
    }
    bool written = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    for (std::size_t done = 0; written && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += static_cast<std::size_t>(n);
    }
    written = ::fsync(fd) == 0 && written;
    written = ::close(fd) == 0 && written;
    if (!written) {
        const int error = errno;
        ::unlink(path.c_str());
        throw AppError("Cannot write \"" + path + "\": " + platform::systemErrorText(error));
    }
}

std::string publicKeyOf(EVP_PKEY* key) {
    unsigned char raw[kPublicKeySize];
    std::size_t size = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key, raw, &size) != 1 || size != sizeof raw) fail("The public key cannot be read");
    return encodeBase64(std::string_view(reinterpret_cast<const char*>(raw), size));
}

std::shared_ptr<EVP_PKEY> newKeyPair() {
    std::shared_ptr<EVP_PKEY> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free);
    if (!key) fail("No Ed25519 key could be made");
    return key;
}

}  // namespace

std::string generateSigningKey(const std::string& keyFile) {
    const std::shared_ptr<EVP_PKEY> key = newKeyPair();
    std::string pem = pemOf(key.get());
    writePrivateFile(keyFile, pem);
    OPENSSL_cleanse(pem.data(), pem.size());
    return publicKeyOf(key.get());
}

SigningKey::SigningKey(const std::string& keyFile) {
    std::string pem;
    if (!platform::readWholeFile(keyFile, pem)) throw AppError("Cannot read the key file \"" + keyFile + "\"");
    std::unique_ptr<BIO, Free> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    key_.reset(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
    OPENSSL_cleanse(pem.data(), pem.size());
    if (!key_ || EVP_PKEY_get_id(key_.get()) != EVP_PKEY_ED25519)
        fail("\"" + keyFile + "\" holds no Ed25519 private key (make one with \"vendor_site keygen\")");
}

SigningKey::SigningKey(std::shared_ptr<evp_pkey_st> key) : key_(std::move(key)) {}

SigningKey SigningKey::generate() { return SigningKey(newKeyPair()); }

SigningKey::~SigningKey() = default;

std::string SigningKey::publicKeyBase64() const { return publicKeyOf(key_.get()); }

std::string SigningKey::sign(std::string_view bytes) const {
    std::unique_ptr<EVP_MD_CTX, Free> context(EVP_MD_CTX_new());
    std::string signature(kSignatureSize, '\0');
    std::size_t size = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1 ||
        size != kSignatureSize)
        fail("The signature cannot be made");
    return signature;
}

}  // namespace quill::vendorkit
