// The vendor's detached signatures: an archive X on the site is trusted only
// with X.sig beside it, 64 raw bytes that the built-in key verifies.
#pragma once

#include "workspace/http_client.h"
#include "workspace/screen.h"
#include "workspace/signed_file.h"

#include <string>

namespace quill {

inline constexpr const char* kBadArchiveSignature = "The archive's signature is missing or not valid.";

// Whether this program checks what it downloads: built with the vendor's key.
bool archivesAreSigned();

// With a key built in, fetches archiveUrl + ".sig" and checks the archive, as
// its open descriptor reads it, against it; raises AppError(kBadArchiveSignature)
// when the signature cannot be had or does not match. A fetch ended because the
// program is ending raises its own error. Without a key, does nothing.
void checkArchiveSignature(Screen& screen, HttpClient& http, const std::string& archiveUrl,
                           const SignedFile& archive);

}  // namespace quill
