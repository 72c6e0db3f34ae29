#include "workspace/trust/template_manifest.h"

#include "platform/error.h"
#include "workspace/app/names.h"
#include "workspace/trust/vendor_metadata.h"

#include <optional>

namespace quill {

namespace {

std::optional<AcceptedMetadata>& keptManifest() {
    static std::optional<AcceptedMetadata> manifest;
    return manifest;
}

}  // namespace

void fetchTemplateManifest(Screen& screen, HttpClient& http, std::string* refused) {
    keptManifest().reset();
    keptManifest() = fetchSignedMetadata(
        screen, http, {TemplatesUrl, kManifestFileName, "manifest", kTemplatesKind, kManifestWhat, kMetadataLimit},
        refused);
}

SignedArchive templateManifestEntry(Screen& screen, HttpClient& http, const std::string& name) {
    if (!keptManifest()) fetchTemplateManifest(screen, http);
    const AcceptedMetadata& manifest = *keptManifest();
    checkStillCurrent(manifest, kManifestWhat);
    const auto found = manifest.text.sections.find(name);
    std::optional<SignedArchive> entry;
    if (found != manifest.text.sections.end() && name != "manifest") entry = signedArchiveOf(found->second);
    if (!entry) throw AppError("The archive \"" + name + "\" is not one that the template site's manifest lists.");
    return *entry;
}

void forgetTemplateManifest() { keptManifest().reset(); }

}  // namespace quill
