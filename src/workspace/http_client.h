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
    // "Connection Closed Gracefully." (also for a body shorter than announced),
    // "IOHandler value is not valid" (https), "Unknown Protocol" (another scheme),
    // "Too many redirects" (the 15th in a row) or "The response has more than 255
    // header lines". Whatever the sink raises ends the fetch and propagates.
    void fetch(const std::string& url, ByteSink& sink);

    // Seconds without a byte before a fetch gives up with 10060 (60 unless set).
    void setStallTimeout(int seconds);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quill
