// The HTML pages of the vendor site: one preview page per template (what the
// program's preview pane shows) and an index page for people with a browser.
#pragma once

#include "vendorkit/site_description.h"

#include <string>

namespace quill::vendorkit {

// text with &, <, >, " and ' written as entities.
std::string htmlEscaped(const std::string& text);

// "12.50" for 125000; "" when there is no price.
std::string priceText(const std::optional<std::int64_t>& price);

// Where a template's generated preview page lies, below the site folder:
// "quillary-web-templates/preview/<archive name without .zip>.html".
std::string previewPagePath(const SiteTemplate& t);

// The catalogue's URL value: the generated page's address on host when the
// description gives no url, else the given text with "{host}" replaced.
std::string catalogueUrl(const SiteTemplate& t, const std::string& host);

// The preview page of a template: name, category, number, description (its
// line breaks kept), licence, price and the extra preview text.
std::string previewPage(const SiteTemplate& t);

// A page listing every template (with a link to its preview when it has one)
// and the offered version.
std::string indexPage(const SiteDescription& site, const std::string& host);

}  // namespace quill::vendorkit
