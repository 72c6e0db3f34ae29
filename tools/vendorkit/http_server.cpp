#include "vendorkit/http_server.h"

#include "platform/error.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#ifdef _WIN32
// Winsock under the same calls; the tests' Windows build has no OpenSSL, so
// this server speaks plain HTTP there.
#include <io.h>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace {
using ssize_t = long long;
constexpr int MSG_NOSIGNAL = 0;
constexpr int SHUT_RDWR = SD_BOTH;
constexpr int O_CLOEXEC = 0;

void startWinsockOnce() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

int poll(pollfd* fds, unsigned long count, int timeout) { return WSAPoll(fds, count, timeout); }
int closeSocket(int fd) { return closesocket(static_cast<SOCKET>(fd)); }
int openSocket() { return static_cast<int>(socket(AF_INET, SOCK_STREAM, 0)); }
int acceptOn(int fd) { return static_cast<int>(accept(static_cast<SOCKET>(fd), nullptr, nullptr)); }
ssize_t readAt(int fd, char* buffer, std::size_t size, long long offset) {
    if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
    return _read(fd, buffer, static_cast<unsigned>(size));
}
int openForReading(const char* path) { return ::open(path, O_RDONLY | O_BINARY); }

// Sockets are no pipes here: the wake-up is a connected pair on loopback.
bool wakePair(int fds[2]) {
    startWinsockOnce();
    int listener = openSocket();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    bool ok = listener >= 0 && bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              listen(listener, 1) == 0 && getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    fds[1] = ok ? openSocket() : -1;
    ok = ok && fds[1] >= 0 && connect(fds[1], reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    fds[0] = ok ? acceptOn(listener) : -1;
    if (listener >= 0) closeSocket(listener);
    return ok && fds[0] >= 0;
}
void wake(int fd) { send(fd, "x", 1, 0); }
}  // namespace
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int closeSocket(int fd) { return ::close(fd); }
int openSocket() { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
int acceptOn(int fd) { return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
ssize_t readAt(int fd, char* buffer, std::size_t size, long long offset) {
    return pread(fd, buffer, size, static_cast<off_t>(offset));
}
int openForReading(const char* path) { return ::open(path, O_RDONLY | O_CLOEXEC); }
bool wakePair(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }
void wake(int fd) { (void)!write(fd, "x", 1); }
}  // namespace
#endif

namespace quill::vendorkit {

namespace {

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxRequestBody = 1024 * 1024;
constexpr int kMaxOpenConnections = 64;
#ifdef _WIN32
constexpr bool kNoSendfile = true;
#else
constexpr bool kNoSendfile = false;
#endif

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

int statusCode(const std::string& statusLine) {
    std::size_t sp = statusLine.find(' ');
    if (sp == std::string::npos) return 0;
    return std::atoi(statusLine.c_str() + sp + 1);
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string withoutQuery(const std::string& target) { return target.substr(0, target.find('?')); }

}  // namespace

std::string HttpRequest::header(const std::string& name) const {
    for (const auto& [n, v] : headers)
        if (equalsNoCase(n, name)) return v;
    return {};
}

bool HttpRequest::hasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return equalsNoCase(h.first, name); });
}

HttpResponse HttpResponse::ok(std::string body) {
    HttpResponse r;
    r.body = std::move(body);
    return r;
}

HttpResponse HttpResponse::status(std::string statusLine, std::string body) {
    HttpResponse r;
    r.statusLine = std::move(statusLine);
    r.body = std::move(body);
    return r;
}

HttpResponse HttpResponse::redirect(std::string location, int code) {
    HttpResponse r;
    r.statusLine = "HTTP/1.1 " + std::to_string(code) + (code == 301 ? " Moved Permanently" : " Found");
    r.headers.emplace_back("Location", std::move(location));
    r.body = "<html>moved</html>";
    return r;
}

#ifndef _WIN32
namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

std::unique_ptr<BIO, BioFree> pemBio(const std::string& pem) {
    return std::unique_ptr<BIO, BioFree>(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
}

std::shared_ptr<SSL_CTX> serverContext(const TlsIdentity& identity) {
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    auto fail = [](const char* what) {
        ERR_clear_error();
        return AppError(std::string("HttpServer: ") + what);
    };
    if (!context) throw fail("cannot make a TLS context");
    auto certificates = pemBio(identity.certificatePem);
    X509* leaf = certificates ? PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr) : nullptr;
    const bool leafUsed = leaf && SSL_CTX_use_certificate(context.get(), leaf) == 1;
    X509_free(leaf);
    if (!leafUsed) throw fail("the TLS certificate cannot be read");
    // Whatever follows the server's own certificate is its chain.
    while (X509* next = PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr)) {
        if (SSL_CTX_add0_chain_cert(context.get(), next) != 1) {
            X509_free(next);
            throw fail("the TLS certificate chain cannot be used");
        }
    }
    ERR_clear_error();  // the end of the PEM text is reported as an error
    auto keyText = pemBio(identity.privateKeyPem);
    EVP_PKEY* key = keyText ? PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr) : nullptr;
    const bool keyUsed = key && SSL_CTX_use_PrivateKey(context.get(), key) == 1;
    EVP_PKEY_free(key);
    if (!keyUsed || SSL_CTX_check_private_key(context.get()) != 1) throw fail("the TLS private key cannot be used");
    return context;
}

}  // namespace

#endif

HttpServer::HttpServer(int port) { listenOn(port); }

#ifdef _WIN32
HttpServer::HttpServer(const TlsIdentity&, int) {
    throw AppError("HttpServer: TLS needs OpenSSL, which the Windows build of the tests does not have");
}
#else
HttpServer::HttpServer(const TlsIdentity& identity, int port) : tls_(serverContext(identity)) { listenOn(port); }
#endif

void HttpServer::listenOn(int port) {
    int pipeFds[2];
    if (!wakePair(pipeFds)) throw AppError("HttpServer: pipe failed");
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    listenFd_ = openSocket();
#ifndef _WIN32
    // Windows lets a second listener share the port with it, which is the opposite.
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 64) != 0) {
        std::string why = std::strerror(errno);
        if (listenFd_ >= 0) closeSocket(listenFd_);
        closeSocket(wakeRead_);
        closeSocket(wakeWrite_);
        throw AppError("HttpServer: cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + why);
    }
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::stop() {
    if (stopping_.exchange(true)) return;
    // The pipe stays readable, so every poll in every thread wakes up.
    wake(wakeWrite_);
    {
        std::lock_guard lock(mutex_);
        for (int fd : openFds_) shutdown(fd, SHUT_RDWR);
    }
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& w : workers) w.thread.join();
    closeSocket(listenFd_);
    closeSocket(wakeRead_);
    closeSocket(wakeWrite_);
}

std::string HttpServer::baseUrl() const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_);
}
std::string HttpServer::url(const std::string& path) const { return baseUrl() + path; }

void HttpServer::route(const std::string& path, HttpHandler handler) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(handler);
}

void HttpServer::route(const std::string& path, HttpResponse response) {
    route(path, [response](const HttpRequest&) { return response; });
}

void HttpServer::serveBytes(const std::string& path, std::string bytes) { route(path, HttpResponse::ok(std::move(bytes))); }

void HttpServer::serveFile(const std::string& path, const std::string& filePath) {
    HttpResponse r;
    r.bodyFile = filePath;
    route(path, r);
}

void HttpServer::serveFolder(const std::string& root) {
    std::lock_guard lock(mutex_);
    folderRoot_ = root;
    if (!folderRoot_.empty() && folderRoot_.back() != '/') folderRoot_ += '/';
}

void HttpServer::redirectChain(const std::string& firstPath, int hops, const std::string& finalPath) {
    for (int i = 0; i < hops; ++i) {
        std::string from = i == 0 ? firstPath : firstPath + "/" + std::to_string(i);
        std::string to = i + 1 == hops ? finalPath : firstPath + "/" + std::to_string(i + 1);
        route(from, HttpResponse::redirect(url(to)));
    }
}

std::vector<HttpRequest> HttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void HttpServer::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (stopping_ || fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = acceptOn(listenFd_);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        if (stopping_ || static_cast<int>(openFds_.size()) >= kMaxOpenConnections) {
            closeSocket(fd);
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        // Finished workers are joined here so a long-running site does not pile up threads.
        std::erase_if(workers_, [](Worker& w) {
            if (!w.done->load()) return false;
            w.thread.join();
            return true;
        });
        openFds_.push_back(fd);
        int number = ++connections_;
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back({std::thread([this, fd, number, done] {
                                serveConnection(fd, number);
                                done->store(true);
                            }),
                            done});
    }
}

void HttpServer::forget(int fd) {
    std::lock_guard lock(mutex_);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    closeSocket(fd);
}

namespace {

// Waits until fd is readable; false when the server stops or the peer is gone.
bool waitReadable(int fd, int wakeFd) {
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents) return false;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return true;
    }
}

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool parseHead(const std::string& head, HttpRequest& request) {
    std::size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    std::size_t a = requestLine.find(' ');
    std::size_t b = requestLine.rfind(' ');
    if (a == std::string::npos || b == a) return false;
    request.method = requestLine.substr(0, a);
    request.target = requestLine.substr(a + 1, b - a - 1);
    request.version = requestLine.substr(b + 1);
    std::size_t pos = lineEnd + 2;
    while (pos < head.size()) {
        std::size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) break;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
    }
    return true;
}

}  // namespace

// One accepted connection as the serving code reads and writes it, plain or over TLS.
class HttpServer::Connection {
public:
#ifdef _WIN32
    Connection(int fd, int wakeFd, ssl_ctx_st*) : fd_(fd), wakeFd_(wakeFd) {}
    bool failed() const { return false; }
    bool secure() const { return false; }
    bool waitReadable() { return vendorkit::waitReadable(fd_, wakeFd_); }
    ssize_t receive(char* buffer, std::size_t size) { return ::recv(fd_, buffer, static_cast<int>(size), 0); }
    bool sendAll(const char* data, std::size_t size) { return vendorkit::sendAll(fd_, data, size); }
#else
    Connection(int fd, int wakeFd, SSL_CTX* tls) : fd_(fd), wakeFd_(wakeFd) {
        if (!tls) return;
        ssl_ = SSL_new(tls);
        if (!ssl_ || SSL_set_fd(ssl_, fd) != 1 || SSL_accept(ssl_) != 1) {
            // A client that refuses our certificate ends here, as it should.
            SSL_free(ssl_);
            ssl_ = nullptr;
            failed_ = true;
            ERR_clear_error();
        }
    }
    ~Connection() {
        if (!ssl_) return;
        SSL_shutdown(ssl_);  // close_notify, so a body that runs to the close is seen as complete
        SSL_free(ssl_);
        ERR_clear_error();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool failed() const { return failed_; }
    bool secure() const { return ssl_ != nullptr; }

    // Waits until there is something to read; false when the server stops.
    bool waitReadable() {
        if (ssl_ && SSL_has_pending(ssl_)) return true;
        return vendorkit::waitReadable(fd_, wakeFd_);
    }

    // Like recv: the bytes read, 0 at the end, negative on an error.
    ssize_t receive(char* buffer, std::size_t size) {
        if (!ssl_) return ::recv(fd_, buffer, size, 0);
        std::size_t got = 0;
        if (SSL_read_ex(ssl_, buffer, size, &got) == 1) return static_cast<ssize_t>(got);
        ERR_clear_error();
        return 0;
    }

    bool sendAll(const char* data, std::size_t size) {
        if (!ssl_) return vendorkit::sendAll(fd_, data, size);
        std::size_t written = 0;
        if (size == 0) return true;
        if (SSL_write_ex(ssl_, data, size, &written) == 1 && written == size) return true;
        ERR_clear_error();
        return false;
    }
#endif
    bool sendAll(const std::string& s) { return sendAll(s.data(), s.size()); }

    int fd() const { return fd_; }

private:
    int fd_;
    int wakeFd_;
#ifndef _WIN32
    SSL* ssl_ = nullptr;
    bool failed_ = false;
#endif
};

void HttpServer::serveConnection(int fd, int number) {
    // A TLS write to a client that has gone raises SIGPIPE in this thread; blocked, it is an error return instead.
#ifndef _WIN32
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
#endif
    serveRequests(fd, number);
    forget(fd);
}

void HttpServer::serveRequests(int fd, int number) {
    Connection connection(fd, wakeRead_, tls_.get());
    if (connection.failed()) return;
    std::string buffer;
    char chunk[16 * 1024];
    bool open = true;
    while (open && !stopping_) {
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > kMaxHead || !connection.waitReadable()) {
                open = false;
                break;
            }
            ssize_t n = connection.receive(chunk, sizeof chunk);
            if (n <= 0) {
                open = false;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        if (!open) break;
        HttpRequest request;
        request.head = buffer.substr(0, headEnd + 2);
        request.connection = number;
        buffer.erase(0, headEnd + 4);
        if (!parseHead(request.head, request)) break;
        // GETs carry no body; anything announced is read and dropped.
        std::size_t bodyLength = std::strtoull(request.header("Content-Length").c_str(), nullptr, 10);
        if (bodyLength > kMaxRequestBody) break;
        while (buffer.size() < bodyLength && open) {
            ssize_t n = connection.waitReadable() ? connection.receive(chunk, sizeof chunk) : 0;
            if (n <= 0) open = false;
            else buffer.append(chunk, static_cast<std::size_t>(n));
        }
        if (!open) break;
        buffer.erase(0, bodyLength);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        HttpResponse response = answer(request);
        open = sendResponse(connection, request, response);
        if (equalsNoCase(request.header("Connection"), "close")) open = false;
    }
}

HttpResponse HttpServer::answer(const HttpRequest& request) {
    HttpHandler handler;
    std::string root;
    {
        std::lock_guard lock(mutex_);
        auto it = routes_.find(request.target);
        if (it == routes_.end()) it = routes_.find(withoutQuery(request.target));
        if (it != routes_.end()) handler = it->second;
        root = folderRoot_;
    }
    if (handler) return handler(request);
    if (!root.empty() && (request.method == "GET" || request.method == "HEAD")) {
        std::string path = percentDecode(withoutQuery(request.target));
        bool safe = !path.empty() && path[0] == '/' && path.find('\0') == std::string::npos &&
                    path.find("/../") == std::string::npos && path.find('\\') == std::string::npos &&
                    !(path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0);
        if (safe) {
            std::string file = root + path.substr(1);
            if (file.back() == '/') file += "index.html";
            struct stat st{};
            if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                HttpResponse r;
                r.bodyFile = file;
                return r;
            }
        }
    }
    return HttpResponse::status("HTTP/1.1 404 Not Found", "<html>Not Found</html>");
}

bool HttpServer::sendResponse(Connection& connection, const HttpRequest& request, const HttpResponse& response) {
    if (response.closeBeforeStatus) return false;
    if (response.raw) {
        connection.sendAll(*response.raw);
        return false;
    }
    for (const auto& line : response.interimStatusLines)
        if (!connection.sendAll(line + "\r\n\r\n")) return false;

    int fileFd = -1;
    std::size_t bodySize = response.body.size();
    if (!response.bodyFile.empty()) {
        fileFd = openForReading(response.bodyFile.c_str());
        struct stat st{};
        if (fileFd < 0 || fstat(fileFd, &st) != 0) {
            if (fileFd >= 0) ::close(fileFd);
            return sendResponse(connection, request, HttpResponse::status("HTTP/1.1 404 Not Found"));
        }
        bodySize = static_cast<std::size_t>(st.st_size);
    }
    struct FileCloser {
        int fd;
        ~FileCloser() {
            if (fd >= 0) ::close(fd);
        }
    } closer{fileFd};

    int code = statusCode(response.statusLine);
    bool noBody = code == 204 || code == 304 || (code >= 100 && code < 200) || request.method == "HEAD";
    bool keepAlive = response.keepAlive && response.framing != BodyFraming::UntilClose && !response.sendOnly &&
                     !response.stallAfterHeaders;

    std::string head = response.statusLine + "\r\n";
    for (const auto& [n, v] : response.headers) head += n + ": " + v + "\r\n";
    for (std::size_t i = 0; i < response.fillerHeaderLines; ++i)
        head += "X-Filler-" + std::to_string(i) + ": " + std::to_string(i) + "\r\n";
    if (code != 204 && code != 304) {
        if (response.framing == BodyFraming::ContentLength) head += "Content-Length: " + std::to_string(bodySize) + "\r\n";
        if (response.framing == BodyFraming::Chunked) head += "Transfer-Encoding: chunked\r\n";
    }
    if (!keepAlive) head += "Connection: close\r\n";
    head += "\r\n";
    if (!connection.sendAll(head)) return false;

    if (response.stallAfterHeaders) {
        // Hold the connection open without a byte until the client gives up or we stop.
        char c;
        while (connection.waitReadable() && connection.receive(&c, 1) > 0) {
        }
        return false;
    }
    if (noBody) return keepAlive;
    if (response.endless) {
        const std::string piece(64 * 1024, 'x');
        while (!stopping_ && connection.sendAll(piece)) {
        }
        return false;
    }

    std::size_t toSend = response.sendOnly ? std::min(*response.sendOnly, bodySize) : bodySize;
    std::size_t sent = 0;
    const std::size_t rate = response.bytesPerSecond ? response.bytesPerSecond : bytesPerSecond_.load();
    const auto start = std::chrono::steady_clock::now();
    // A paced body goes out in twentieths of a second's worth, each when its time
    // has come; false when the server stops meanwhile.
    const std::size_t pacedPiece = std::max<std::size_t>(rate / 20, 1);
    auto waitForPace = [&]() -> bool {
        const auto due = start + std::chrono::microseconds(sent * 1000000 / rate);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
            if (left.count() <= 0) return !stopping_;
            pollfd wake{wakeRead_, POLLIN, 0};
            if (poll(&wake, 1, static_cast<int>(left.count())) > 0) return false;
        }
    };
    std::vector<char> fileChunk;
    auto sendPiece = [&](std::size_t size) -> bool {
        if (fileFd < 0) {
            bool ok = connection.sendAll(response.body.data() + sent, size);
            sent += size;
            return ok;
        }
        if (fileChunk.size() < size) fileChunk.resize(size);
        std::size_t got = 0;
        while (got < size) {
            ssize_t n = readAt(fileFd, fileChunk.data() + got, size - got, static_cast<long long>(sent + got));
            if (n <= 0) return false;
            got += static_cast<std::size_t>(n);
        }
        sent += size;
        return connection.sendAll(fileChunk.data(), size);
    };

    if (response.framing == BodyFraming::Chunked) {
        std::size_t chunkSize = std::max<std::size_t>(response.chunkSize, 1);
        while (sent < toSend && !stopping_) {
            if (rate && !waitForPace()) return false;
            std::size_t n = std::min(chunkSize, toSend - sent);
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", n);
            if (!connection.sendAll(size) || !sendPiece(n) || !connection.sendAll("\r\n")) return false;
        }
        if (response.sendOnly) return false;
        return connection.sendAll("0\r\n\r\n") && keepAlive;
    }

    if (rate) {
        while (sent < toSend)
            if (!waitForPace() || !sendPiece(std::min(pacedPiece, toSend - sent))) return false;
    } else if (fileFd >= 0 && (connection.secure() || kNoSendfile)) {
        for (std::size_t piece = 64 * 1024; sent < toSend && !stopping_;)
            if (!sendPiece(std::min(piece, toSend - sent))) return false;
    } else if (fileFd >= 0) {
#ifndef _WIN32
        // The kernel copies file to socket; what benchmarks measure is the client.
        off_t offset = 0;
        while (static_cast<std::size_t>(offset) < toSend && !stopping_) {
            ssize_t n = sendfile(connection.fd(), fileFd, &offset, toSend - static_cast<std::size_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
        }
#endif
    } else if (!sendPiece(toSend)) {
        return false;
    }
    return keepAlive && !stopping_;
}

}  // namespace quill::vendorkit
