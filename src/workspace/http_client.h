// IdHTTP1: the one HTTP client of the main window, on libcurl's easy interface.
// It keeps its cookies and its open connection for its whole life.
#pragma once

#include "workspace/byte_sink.h"

#include <memory>
#include <string>

namespace quill {

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // GETs url and writes the final 2xx body into sink. Raises AppError with the
    // status line ("HTTP/1.1 404 Not Found"), "Socket Error # <code>\r\n<text>",
    // "Connection Closed Gracefully.", "IOHandler value is not valid" (https) or
    // "Too many redirects".
    void fetch(const std::string& url, ByteSink& sink);

    // Seconds without a byte before a fetch gives up with 10060.
    void setStallTimeout(int seconds);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quill
