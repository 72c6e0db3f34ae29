#include "vendorkit/site_server.h"

#include "platform/error.h"

#include <filesystem>

namespace quill::vendorkit {

namespace fs = std::filesystem;

ListenAddress parseListenAddress(const std::string& text) {
    ListenAddress address;
    const auto colon = text.rfind(':');
    std::string host = colon == std::string::npos ? std::string() : text.substr(0, colon);
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (host.empty() || host == "localhost") host = "127.0.0.1";
    if (host != "127.0.0.1")
        throw AppError("the site listens on 127.0.0.1 only, not on \"" + text + "\"");
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) < 1 || std::stoi(port) > 65535)
        throw AppError("\"" + text + "\" has no port from 1 to 65535");
    address.host = host;
    address.port = std::stoi(port);
    return address;
}

std::string contentTypeFor(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    if (ext == ".html" || ext == ".htm") return "text/html; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".png") return "image/png";
    if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
    if (ext == ".zip") return "application/zip";
    if (ext == ".txt") return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

SiteServer::SiteServer(const std::string& siteFolder, int port) {
    std::error_code error;
    if (!fs::is_directory(siteFolder, error)) throw AppError("There is no site folder \"" + siteFolder + "\"");
    server_ = std::make_unique<HttpServer>(port);
    const fs::path root = fs::absolute(siteFolder);
    // Files present now get their content type; anything added later is still served, untyped.
    for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = fs::relative(entry.path(), root).generic_string();
        const std::string file = entry.path().string();
        HttpResponse response;
        response.bodyFile = file;
        response.headers.emplace_back("Content-Type", contentTypeFor(file));
        server_->route("/" + relative, response);
        if (entry.path().filename() == "index.html") {
            const std::string folder = fs::path(relative).parent_path().generic_string();
            server_->route(folder.empty() ? "/" : "/" + folder + "/", response);
        }
    }
    server_->serveFolder(root.string());
}

}  // namespace quill::vendorkit
