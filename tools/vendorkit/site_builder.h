// Lays out a vendor site from its description: under "quillary-web-templates/"
// the catalogue archive temp.zip (a real Firebird temp.fdb), one archive per
// template (db.fdb and the folder db/) and the preview pages; under
// "quillary-web/update/" version.txt and the update archive. Signed, each
// archive X has its signature beside it as X.sig, and version.txt carries the
// update archive's.
#pragma once

#include "vendorkit/site_description.h"
#include "vendorkit/signing.h"

#include <string>
#include <vector>

namespace quill::vendorkit {

// The two folders below a site folder that the program's base addresses name.
inline const std::string kTemplatesFolder = "quillary-web-templates/";
inline const std::string kUpdateFolder = "quillary-web/update/";

// Builds the site into siteFolder (created when missing), with preview
// addresses on host ("127.0.0.1:8765"), signing every archive with signer when
// one is given. A folder that vendor_site built before is rebuilt from scratch;
// any other non-empty folder is refused. Returns the files written, relative to
// siteFolder. Raises AppError with what went wrong.
std::vector<std::string> buildSite(const SiteDescription& site, const std::string& siteFolder,
                                   const std::string& host, const SigningKey* signer = nullptr);

// text with LF line ends made CR LF and one CR LF at its end ("" stays "").
std::string windowsText(const std::string& text);

// Whether text names a host with an optional port and nothing else.
bool isHostText(const std::string& text);

}  // namespace quill::vendorkit
