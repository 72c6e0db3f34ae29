// The test server is shared by other tests and the demo vendor site, so what
// they rely on is held here: the folder tree, its limits, and a clean stop.
#include "vendorkit/http_server.h"

#include "platform/error.h"
#include "support/temp_folder.h"
#include "support/test_certificates.h"
#include "workspace/transfer/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace quill {
namespace {

using vendorkit::HttpResponse;
using vendorkit::HttpServer;

// One raw request, so targets reach the server exactly as written.
std::string rawExchange(int port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return "";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return answer;
}

std::string fetched(HttpClient& client, const std::string& url) {
    MemorySink sink;
    try {
        client.fetch(url, sink);
    } catch (const AppError& e) {
        return e.message();
    }
    return sink.bytes;
}

TEST(HttpServerFolder, ServesFilesUnderTheRootOnly) {
    testing::TempFolder temp;
    testing::makeFolders(temp / "site/templates");
    testing::writeFile(temp / "site/templates/temp.zip", "zip bytes");
    testing::writeFile(temp / "site/index.html", "home");
    testing::writeFile(temp / "secret.txt", "secret");
    HttpServer server;
    server.serveFolder(temp / "site");
    server.serveBytes("/templates/routed.zip", "routed");
    HttpClient client;
    EXPECT_EQ(fetched(client, server.url("/templates/temp.zip")), "zip bytes");
    EXPECT_EQ(fetched(client, server.url("/templates/temp.zip?v=2")), "zip bytes");
    EXPECT_EQ(fetched(client, server.url("/")), "home");
    EXPECT_EQ(fetched(client, server.url("/templates/routed.zip")), "routed");
    EXPECT_EQ(fetched(client, server.url("/templates/none.zip")), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(fetched(client, server.url("/templates")), "HTTP/1.1 404 Not Found");
    for (std::string target : {"/../secret.txt", "/templates/../../secret.txt", "/%2e%2e/secret.txt"}) {
        std::string answer = rawExchange(server.port(), "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 404 Not Found") << target;
    }
}

TEST(HttpServerLife, StopsPromptlyWithClientsStillWaiting) {
    auto server = std::make_unique<HttpServer>();
    HttpResponse stall = HttpResponse::ok("never");
    stall.stallAfterHeaders = true;
    server->route("/stall", stall);
    std::string result;
    std::thread client([&, port = server->port()] {
        result = rawExchange(port, "GET /stall HTTP/1.1\r\nHost: x\r\n\r\n");
    });
    std::thread idle([port = server->port()] { rawExchange(port, ""); });
    while (server->requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    server.reset();  // must not wait for the clients
    client.join();
    idle.join();
    EXPECT_EQ(result.substr(0, 15), "HTTP/1.1 200 OK");
}

TEST(HttpServerLife, AnHttpsServerStopsWithAClientThatNeverShakesHands) {
    testing::TestCertificateAuthority authority;
    auto server = std::make_unique<HttpServer>(authority.issue("IP:127.0.0.1"));
    EXPECT_EQ(server->url("/a"), "https://127.0.0.1:" + std::to_string(server->port()) + "/a");
    std::thread silent([port = server->port()] { rawExchange(port, ""); });
    while (server->connectionCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    server.reset();  // must not wait for the handshake
    silent.join();
}

TEST(HttpServerLife, AGivenPortIsUsedAndABusyOneIsAnError) {
    int port;
    {
        HttpServer probe;
        port = probe.port();
    }
    HttpServer fixed(port);
    EXPECT_EQ(fixed.port(), port);
    EXPECT_EQ(fixed.url("/a"), "http://127.0.0.1:" + std::to_string(port) + "/a");
    EXPECT_THROW(HttpServer clash(port), AppError);
}

}  // namespace
}  // namespace quill
