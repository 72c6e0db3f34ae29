#include "vendorkit/site_pages.h"

namespace quill::vendorkit {

namespace {

std::string paragraphs(const std::string& text) {
    std::string html;
    for (char c : htmlEscaped(text)) {
        if (c == '\n') html += "<br>\n";
        else html += c;
    }
    return html;
}

std::string head(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + htmlEscaped(title) +
           "</title>\n<style>\n"
           "body { font-family: Tahoma, 'DejaVu Sans', sans-serif; margin: 24px; color: #222; background: #fdfbf7; }\n"
           "h1 { color: #2b4c7e; margin-bottom: 4px; }\n"
           ".category { color: #7a6a53; margin-top: 0; }\n"
           ".description { font-size: 15px; line-height: 1.5; max-width: 44em; }\n"
           "table { border-collapse: collapse; margin-top: 16px; }\n"
           "td { padding: 4px 14px 4px 0; } td.label { color: #666; }\n"
           "</style>\n</head>\n<body>\n";
}

std::string row(const std::string& label, const std::optional<std::string>& value) {
    if (!value || value->empty()) return {};
    return "<tr><td class=\"label\">" + label + "</td><td>" + htmlEscaped(*value) + "</td></tr>\n";
}

}  // namespace

std::string htmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string priceText(const std::optional<std::int64_t>& price) {
    if (!price) return {};
    const std::int64_t cents = (*price + 50) / 100;
    std::string decimals = std::to_string(cents % 100);
    if (decimals.size() < 2) decimals = "0" + decimals;
    return std::to_string(cents / 100) + "." + decimals;
}

std::string previewPagePath(const SiteTemplate& t) {
    return "quillary-web-templates/preview/" + t.file.substr(0, t.file.size() - 4) + ".html";
}

std::string catalogueUrl(const SiteTemplate& t, const std::string& host) {
    if (!t.url) return "http://" + host + "/" + previewPagePath(t);
    std::string url = *t.url;
    for (auto at = url.find("{host}"); at != std::string::npos; at = url.find("{host}", at + host.size()))
        url.replace(at, 6, host);
    return url;
}

std::string previewPage(const SiteTemplate& t) {
    std::string html = head(t.name);
    html += "<h1>" + htmlEscaped(t.name) + "</h1>\n";
    if (t.category && !t.category->empty()) html += "<p class=\"category\">" + htmlEscaped(*t.category) + "</p>\n";
    if (t.description) html += "<p class=\"description\">" + paragraphs(*t.description) + "</p>\n";
    if (!t.preview.empty()) html += "<p class=\"description\">" + paragraphs(t.preview) + "</p>\n";
    html += "<table>\n";
    html += row("Number", t.number);
    html += row("Keywords", t.keywords);
    html += row("Licence", t.license);
    const std::string price = priceText(t.price);
    if (!price.empty()) html += row("Price", price);
    html += "</table>\n</body>\n</html>\n";
    return html;
}

std::string indexPage(const SiteDescription& site, const std::string& host) {
    std::string html = head("Quillary templates");
    html += "<h1>Quillary templates</h1>\n<p class=\"category\">served from " + htmlEscaped(host) + "</p>\n<table>\n";
    for (const auto& t : site.templates) {
        std::string name = htmlEscaped(t.name);
        const std::string href = catalogueUrl(t, host);
        if (!href.empty()) name = "<a href=\"" + htmlEscaped(href) + "\">" + name + "</a>";
        html += "<tr><td>" + name + "</td><td class=\"label\">" + htmlEscaped(t.category.value_or("")) +
                "</td><td><a href=\"quillary-web-templates/" + htmlEscaped(t.file) + "\">" + htmlEscaped(t.file) +
                "</a></td></tr>\n";
    }
    html += "</table>\n";
    if (site.version)
        html += "<p>Program update " + htmlEscaped(site.version->version) + ": <a href=\"quillary-web/update/" +
                htmlEscaped(site.version->file) + "\">" + htmlEscaped(site.version->file) + "</a></p>\n";
    html += "</body>\n</html>\n";
    return html;
}

}  // namespace quill::vendorkit
