// The HTTP client against whatever a server may answer: the input is sent byte
// for byte as the response to each request, over loopback, and the real client
// fetches it into memory. Any error text is fine; a crash, a hang or a leak is not.
#include "platform/error.h"
#include "workspace/transfer/byte_sink.h"
#include "workspace/transfer/http_client.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Every Location names this server again, whatever the input says: the fuzzer
// must never send the client to another host, nor wait on one.
std::string keptAtHome(const std::string& input) {
    std::string out;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        end = end == std::string::npos ? input.size() : end + 1;
        std::string line = input.substr(start, end - start);
        const std::size_t colon = line.find(':');
        // The client compares the name as a C string, so a NUL ends it here too.
        if (colon != std::string::npos && strcasecmp(line.substr(0, colon).c_str(), "location") == 0) {
            const bool crlf = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
            line = std::string("Location: /r") + (crlf ? "\r\n" : line.back() == '\n' ? "\n" : "");
        }
        out += line;
        start = end;
    }
    return out;
}

// One thread that answers each connection's first request with the current
// reply and closes it; the client holds one connection at a time.
class RawServer {
public:
    RawServer() {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int yes = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listen_, 16) != 0)
            std::abort();
        socklen_t length = sizeof address;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        std::thread([this] { serve(); }).detach();  // lives as long as the process
    }

    void answerWith(std::string reply) {
        std::lock_guard<std::mutex> hold(lock_);
        reply_ = std::move(reply);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/r"; }

private:
    void serve() {
        for (;;) {
            const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::string head;
            char chunk[4096];
            while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
                pollfd readable{fd, POLLIN, 0};
                if (poll(&readable, 1, 1000) <= 0) break;
                const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0) break;
                head.append(chunk, static_cast<std::size_t>(n));
            }
            std::string reply;
            {
                std::lock_guard<std::mutex> hold(lock_);
                reply = reply_;
            }
            for (std::size_t sent = 0; sent < reply.size();) {
                const ssize_t n = send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            shutdown(fd, SHUT_WR);
            close(fd);
        }
    }

    int listen_ = -1;
    int port_ = 0;
    std::mutex lock_;
    std::string reply_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static RawServer* server = new RawServer;  // never destroyed: its thread outlives every input
    server->answerWith(keptAtHome(std::string(reinterpret_cast<const char*>(data), size)));
    quill::HttpClient client;
    client.setStallTimeout(1);
    quill::MemorySink sink;
    try {
        client.fetch(server->url(), sink);
    } catch (const quill::AppError&) {
    }
    return 0;
}
