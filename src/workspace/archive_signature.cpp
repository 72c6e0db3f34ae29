#include "workspace/archive_signature.h"

#include "platform/error.h"
#include "workspace/progress_sink.h"
#include "workspace/vendor_key.h"

namespace quill {

bool archivesAreSigned() { return vendorPublicKey().has_value(); }

void checkArchiveSignature(Screen& screen, HttpClient& http, const std::string& archiveUrl,
                           const SignedFile& archive) {
    const auto& key = vendorPublicKey();
    if (!key) return;
    // A signature is 64 bytes; a site that sends more is not sending one.
    MemorySink signature(kSignatureSize);
    try {
        // Shown, though small: a host that trickles it shows it, and the user can stop waiting.
        ProgressSink sink(signature, screen, ProgressSink::Display::Shown);
        http.fetch(archiveUrl + ".sig", sink);
    } catch (const AppError&) {
        if (screen.endRequested()) throw;
        throw AppError(kBadArchiveSignature);
    }
    if (!archive.signatureMatches(*key, signature.bytes)) throw AppError(kBadArchiveSignature);
}

}  // namespace quill
