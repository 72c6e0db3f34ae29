// Lays out a vendor site from its description: under "quillary-web-templates/"
// the catalogue archive temp.zip (a real Firebird temp.fdb), one archive per
// template (db.fdb and the folder db/) and the preview pages; under
// "quillary-web/update/" version.txt and the update archive. Signed, the
// templates folder gets manifest.txt, version.txt names the archive's size
// and SHA-256, both are signed whole, and the key chain goes under both; with
// an online key, each gets a timestamp.txt signed by it.
#pragma once

#include "vendorkit/site_description.h"
#include "vendorkit/signing.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quill::vendorkit {

// The two folders below a site folder that the program's base addresses name.
inline const std::string kTemplatesFolder = "quillary-web-templates/";
inline const std::string kUpdateFolder = "quillary-web/update/";

// How a site is signed; no signer: not at all.
struct SiteSigning {
    const SigningKey* signer = nullptr;
    std::int64_t expires = 0;  // seconds since 1970, UTC; 0: defaultExpiry
    std::string keyChain;      // a folder of key links to publish; "" for none
    // The key that the chain's last link names for timestamps, and when they
    // expire (0: kDefaultFreshHours from now). Required when the link names one.
    const SigningKey* online = nullptr;
    std::int64_t freshUntil = 0;
};

// Builds the site into siteFolder (created when missing), with preview
// addresses on host ("127.0.0.1:8765"), signed as signing says. The serial
// rises above the one of the site built there before. A folder that
// vendor_site built before is rebuilt from scratch; any other non-empty folder
// is refused. Returns the files written, relative to siteFolder. Raises
// AppError with what went wrong, before touching the folder when the key
// chain, the signer or the online key is wrong.
std::vector<std::string> buildSite(const SiteDescription& site, const std::string& siteFolder,
                                   const std::string& host, const SiteSigning& signing = {});

// text with LF line ends made CR LF and one CR LF at its end ("" stays "").
std::string windowsText(const std::string& text);

// Whether text names a host with an optional port and nothing else.
bool isHostText(const std::string& text);

}  // namespace quill::vendorkit
