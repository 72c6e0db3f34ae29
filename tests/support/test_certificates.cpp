#include "support/test_certificates.h"

#include <atomic>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace quill::testing {

namespace {

struct Free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Certificate = std::unique_ptr<X509, Free>;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

Key newKey() {
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    check(key != nullptr, "key generation failed");
    return key;
}

void addExtension(X509* certificate, X509V3_CTX& context, int nid, const std::string& value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    check(extension && X509_add_ext(certificate, extension, -1) == 1, "an extension cannot be added");
    X509_EXTENSION_free(extension);
}

// Valid from an hour ago for a day: long enough for any test, short enough to mean nothing later.
Certificate newCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer) {
    static std::atomic<long> serial{1};
    Certificate certificate(X509_new());
    check(certificate != nullptr, "out of memory");
    X509* x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 24 * 3600);
    X509_set_pubkey(x, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(x, X509_get_subject_name(issuer ? issuer : x));
    return certificate;
}

std::string pemOf(X509* certificate, EVP_PKEY* key) {
    std::unique_ptr<BIO, Free> bio(BIO_new(BIO_s_mem()));
    check(bio && (certificate ? PEM_write_bio_X509(bio.get(), certificate)
                              : PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)) == 1,
          "PEM cannot be written");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

struct TestCertificateAuthority::Impl {
    Key key;
    Certificate certificate;
};

TestCertificateAuthority::TestCertificateAuthority(const std::string& name) : impl_(std::make_unique<Impl>()) {
    impl_->key = newKey();
    impl_->certificate = newCertificate(impl_->key.get(), name, nullptr);
    X509* x = impl_->certificate.get();
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, x, x, nullptr, nullptr, 0);
    addExtension(x, context, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(x, context, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(x, context, NID_subject_key_identifier, "hash");
    check(X509_sign(x, impl_->key.get(), EVP_sha256()) > 0, "the authority cannot sign itself");
    certificatePem_ = pemOf(x, nullptr);
}

TestCertificateAuthority::~TestCertificateAuthority() = default;

vendorkit::TlsIdentity TestCertificateAuthority::issue(const std::string& subjectAltNames) const {
    Key key = newKey();
    Certificate certificate = newCertificate(key.get(), "Quill test server", impl_->certificate.get());
    X509* x = certificate.get();
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, impl_->certificate.get(), x, nullptr, nullptr, 0);
    addExtension(x, context, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(x, context, NID_key_usage, "critical,digitalSignature");
    addExtension(x, context, NID_ext_key_usage, "serverAuth");
    addExtension(x, context, NID_subject_alt_name, subjectAltNames);
    addExtension(x, context, NID_subject_key_identifier, "hash");
    addExtension(x, context, NID_authority_key_identifier, "keyid:always");
    check(X509_sign(x, impl_->key.get(), EVP_sha256()) > 0, "the server certificate cannot be signed");
    return {pemOf(x, nullptr), pemOf(nullptr, key.get())};
}

}  // namespace quill::testing
