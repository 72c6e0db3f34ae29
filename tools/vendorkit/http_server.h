// A scriptable HTTP/1.1 server on 127.0.0.1 for tests, benchmarks and the demo
// vendor site: fixed answers per path, odd answers on purpose (cut bodies,
// stalls, early closes), a folder tree, and a record of what clients sent.
// Plain HTTP, or HTTPS with a certificate the test gives it.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct ssl_ctx_st;

namespace quill::vendorkit {

struct HttpRequest {
    std::string method;
    std::string target;   // as sent, such as "/files/a.zip?x=1"
    std::string version;  // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
    std::string head;     // the raw request line and header lines, up to the blank line
    int connection = 0;   // which accepted connection carried it, from 1

    // The first value of a header (name compared without case), "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

enum class BodyFraming { ContentLength, Chunked, UntilClose };

struct HttpResponse {
    std::string statusLine = "HTTP/1.1 200 OK";
    std::vector<std::pair<std::string, std::string>> headers;  // sent as given, before the framing headers
    std::string body;
    std::string bodyFile;  // when set, the body is streamed from this file instead
    BodyFraming framing = BodyFraming::ContentLength;
    std::size_t chunkSize = 4096;
    std::vector<std::string> interimStatusLines;  // such as "HTTP/1.1 100 Continue", each sent first with no headers
    std::optional<std::size_t> sendOnly;          // send this many body bytes of the announced ones, then close
    bool stallAfterHeaders = false;               // send the head, then nothing until the client or the server goes
    bool closeBeforeStatus = false;               // read the request, then close without a byte
    bool keepAlive = true;                        // false: "Connection: close" and close after the body
    std::size_t fillerHeaderLines = 0;            // extra "X-Filler-n: n" lines
    std::size_t bytesPerSecond = 0;               // sends the body no faster than this; 0: the server's pace
    bool endless = false;                         // after the head, "x" without end until the client goes (UntilClose framing)
    std::optional<std::string> raw;               // sent byte for byte in place of the whole response, then the close

    static HttpResponse ok(std::string body);
    static HttpResponse status(std::string statusLine, std::string body = {});
    static HttpResponse redirect(std::string location, int code = 302);
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

// What an HTTPS server presents: its certificate (then any intermediates) and its private key, in PEM.
struct TlsIdentity {
    std::string certificatePem;
    std::string privateKeyPem;
};

class HttpServer {
public:
    // Listens on 127.0.0.1 at port (0: an ephemeral one). Raises AppError when it cannot.
    explicit HttpServer(int port = 0);
    // The same over TLS with identity; raises AppError when it cannot be used.
    explicit HttpServer(const TlsIdentity& identity, int port = 0);
    // Stops: closes every connection, even one in a stall, and joins the threads.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const { return port_; }
    std::string baseUrl() const;                     // "http://127.0.0.1:<port>" ("https://" over TLS)
    std::string url(const std::string& path) const;  // baseUrl() + path

    // Answers for a path (the target without its query also matches). Later routes replace earlier ones.
    void route(const std::string& path, HttpHandler handler);
    void route(const std::string& path, HttpResponse response);
    void serveBytes(const std::string& path, std::string bytes);
    void serveFile(const std::string& path, const std::string& filePath);
    // Every unrouted GET maps to a file under root (a folder path, "index.html" for
    // a path ending in "/"); anything else is "HTTP/1.1 404 Not Found".
    void serveFolder(const std::string& root);
    // firstPath redirects to firstPath + "/1", ... + "/<hops-1>", which redirects to finalPath:
    // hops redirects in a row.
    void redirectChain(const std::string& firstPath, int hops, const std::string& finalPath);

    // Sends every body no faster than this, as a slow line would, unless its
    // response sets a pace of its own; 0 (the start) sends at full speed.
    void throttle(std::size_t bytesPerSecond) { bytesPerSecond_ = bytesPerSecond; }

    std::vector<HttpRequest> requests() const;
    int connectionCount() const { return connections_.load(); }
    void stop();

private:
    class Connection;
    void listenOn(int port);
    void acceptLoop();
    void serveConnection(int fd, int number);
    void serveRequests(int fd, int number);
    HttpResponse answer(const HttpRequest& request);
    bool sendResponse(Connection& connection, const HttpRequest& request, const HttpResponse& response);
    void forget(int fd);

    std::shared_ptr<ssl_ctx_st> tls_;  // none: plain HTTP
    int port_ = 0;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::atomic<std::size_t> bytesPerSecond_{0};
    mutable std::mutex mutex_;
    std::map<std::string, HttpHandler> routes_;
    std::string folderRoot_;
    std::vector<HttpRequest> requests_;
    std::vector<int> openFds_;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;
    std::thread acceptor_;
};

}  // namespace quill::vendorkit
