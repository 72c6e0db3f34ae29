// The one HTTP client of the main window, on the system's HTTP stack (see
// http_transport.h). It keeps its cookies and its open connection for its whole life.
#pragma once

#include "workspace/transfer/byte_sink.h"

#include <memory>
#include <string>

namespace quill {

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // GETs url (http, or https verified against the system's certificate store)
    // and writes the final 2xx body into sink. Raises AppError with the status
    // line ("HTTP/1.1 404 Not Found"), "Socket Error # <code>\r\n<text>",
    // "Connection Closed Gracefully." (closed before the head was whole),
    // "The download was cut short: 130 of 152 KB arrived." (a body that broke
    // off; "...: 12.4 MB arrived." when no length was announced), "Unknown
    // Protocol" (another scheme), "Redirect from HTTPS to HTTP refused", "Too
    // many redirects" (the 15th in a row), "The response has more than 255
    // header lines", or the stack's own text for a TLS failure such as a certificate
    // that does not verify. What is read but not kept (an error's or a
    // redirect's body, interim heads) ends the fetch with that response's status
    // line once it passes 64 KiB; such a redirect is not followed.
    // The transfer runs on a thread of its own while the calling thread serves
    // the sink: it hands it the body, pulses it about ten times a second, and
    // lets it wait for window events in between, so a window answers at once
    // throughout. Whatever the sink raises ends the fetch and propagates.
    void fetch(const std::string& url, ByteSink& sink);

    // Seconds at less than a byte a second, or spent connecting, before a fetch
    // gives up with 10060 (60 unless set).
    void setStallTimeout(int seconds);

    // Tests only: trust exactly these PEM certificates instead of the system's
    // store, so a test server's own authority can be used. The program never calls it.
    void trustOnlyForTests(const std::string& certificatesPem);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quill
