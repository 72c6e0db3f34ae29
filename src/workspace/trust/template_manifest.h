// The template site's signed manifest, TemplatesUrl + "manifest.txt": taken
// anew at each show step and kept for the template downloads that follow, so
// the catalogue and the templates are checked against the same signing.
#pragma once

#include "workspace/trust/signed_metadata.h"

#include <string>

namespace quill {

class HttpClient;
class Screen;

inline const std::string kManifestWhat = "The template site's manifest";

// Fetches and checks the manifest (vendor_metadata.h) and keeps it. Raises
// AppError; `refused` as in fetchSignedMetadata.
void fetchTemplateManifest(Screen& screen, HttpClient& http, std::string* refused = nullptr);

// The entry for the archive the site names `name`, from the kept manifest
// (fetched first when there is none). Raises AppError when the manifest has
// expired since, or does not list the archive.
SignedArchive templateManifestEntry(Screen& screen, HttpClient& http, const std::string& name);

// Tests only: forget the kept manifest, as a new process would.
void forgetTemplateManifest();

}  // namespace quill
