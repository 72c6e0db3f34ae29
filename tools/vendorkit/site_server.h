// Serves a built vendor site folder over plain HTTP on the loopback address,
// with the content type a browser needs for the preview pages.
#pragma once

#include "vendorkit/http_server.h"

#include <memory>
#include <string>

namespace quill::vendorkit {

struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 8765;
};

// "127.0.0.1:8765", "localhost:8765" or "8765". Raises AppError for any other
// host (the site never listens beyond this machine) or a bad port.
ListenAddress parseListenAddress(const std::string& text);

// "text/html; charset=utf-8" for .html, "application/zip" for .zip, ...
std::string contentTypeFor(const std::string& path);

class SiteServer {
public:
    // Starts serving siteFolder on 127.0.0.1:port (0: any free port). Raises
    // AppError when the folder is missing or the port cannot be had.
    SiteServer(const std::string& siteFolder, int port);

    int port() const { return server_->port(); }
    std::string baseUrl() const { return server_->baseUrl(); }
    HttpServer& http() { return *server_; }

private:
    std::unique_ptr<HttpServer> server_;
};

}  // namespace quill::vendorkit
