// A certificate authority made afresh in the test, with server certificates it
// issues, so TLS runs over loopback with nothing on disk that could expire.
#pragma once

#include "vendorkit/http_server.h"

#include <memory>
#include <string>

namespace quill::testing {

class TestCertificateAuthority {
public:
    explicit TestCertificateAuthority(const std::string& name = "Quill Test Authority");
    ~TestCertificateAuthority();
    TestCertificateAuthority(const TestCertificateAuthority&) = delete;
    TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;

    // The authority's own certificate, PEM, for the client to trust.
    const std::string& certificatePem() const { return certificatePem_; }

    // A server certificate for the given subject alternative names, such as
    // "IP:127.0.0.1" or "DNS:localhost,IP:127.0.0.1", with its key.
    vendorkit::TlsIdentity issue(const std::string& subjectAltNames) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string certificatePem_;
};

}  // namespace quill::testing
