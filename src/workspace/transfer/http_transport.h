// What HttpClient's request loop needs from a system's HTTP stack: one plain
// GET at a time, no redirects followed, its head and body handed on as they
// arrive. libcurl on Debian (unix/), WinHTTP on Windows (windows/); the loop
// above keeps every rule of a fetch, so both systems fetch alike.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace quill {

// How one exchange ended, in the terms the request loop words its errors in.
struct TransportEnding {
    enum class Kind {
        Complete,
        Closed,       // the connection ended before the response was whole, with no error of the system's
        SocketError,  // code holds the Windows Sockets code
        Failed,       // text holds the stack's own words, such as a certificate that does not verify
        Stopped,      // interrupt() or a receiver's refusal ended it
        OutOfMemory,
    };
    Kind kind = Kind::Complete;
    int code = 0;  // Closed: the Windows Sockets code to show when not even a status line came (0: none)
    bool whileReading = false;  // it broke off while the response was being read
    std::string text;
};

class HttpTransport {
public:
    // Called on the transfer's thread, in the order the bytes arrived. Each
    // returns false to end the exchange at once.
    class Receiver {
    public:
        virtual ~Receiver() = default;
        // One line of a head, interim heads too, as received with its line end;
        // the empty line ends a head.
        virtual bool headerLine(const char* data, std::size_t size) = 0;
        virtual bool body(const char* data, std::size_t size) = 0;
    };

    virtual ~HttpTransport() = default;

    // GETs url over the kept connection when it can, with the client's fixed
    // headers and its cookies, and returns once the response has been read or
    // the exchange has ended. Runs on the transfer's thread.
    virtual TransportEnding exchange(const std::string& url, Receiver& receiver) = 0;

    // From the fetching thread: the running exchange, or the next one if it
    // has not begun yet, ends soon as Stopped, until clearInterrupt.
    virtual void interrupt() = 0;
    virtual void clearInterrupt() = 0;

    // Less than a byte a second for this long, or a connection not made in this time, ends an exchange with 10060.
    virtual void setStallTimeout(int seconds) = 0;

    // Tests only: trust exactly these PEM certificates instead of the system's store.
    virtual void trustOnlyForTests(const std::string& certificatesPem) = 0;

    // A Location resolved against the address that answered with it.
    virtual std::string resolve(const std::string& base, const std::string& location) = 0;
};

// The system's own transport, with the client's fixed request headers.
std::unique_ptr<HttpTransport> makeHttpTransport();

}  // namespace quill
