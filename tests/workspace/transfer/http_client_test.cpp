#include "workspace/transfer/http_client.h"

#include "platform/error.h"
#include "support/error_of.h"
#include "support/resident_memory.h"
#include "support/system.h"
#include "support/temp_folder.h"
#include "vendorkit/http_server.h"
#include "workspace/transfer/http_socket_errors.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

// The test authority and the server's TLS are made with OpenSSL, which the
// Windows build of the tests does not have.
#ifndef _WIN32
#include "support/test_certificates.h"
#define QUILL_TEST_TLS 1
#endif
#ifdef _WIN32
#include <algorithm>
#include <sstream>
#include <vector>
#include <windows.h>
#endif

namespace quill {
namespace {

using vendorkit::BodyFraming;
using vendorkit::HttpResponse;
using vendorkit::HttpServer;

std::string fetchError(HttpClient& client, const std::string& url, ByteSink& sink) {
    return testing::errorOf([&] { client.fetch(url, sink); });
}

std::string fetchError(const std::string& url) {
    HttpClient client;
    MemorySink sink;
    return fetchError(client, url, sink);
}

// A loopback port nobody listens on.
// The request the client sends for a path: exactly its four header lines.
std::string expectedRequestHead(const std::string& path, int port) {
    return "GET " + path + " HTTP/1.1\r\n"
           "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"
           "Accept: text/html, */*,*.zip\r\n"
           "Accept-Encoding: identity\r\n"
           "User-Agent: Mozilla/4.0 (compatible; Indy Library)\r\n";
}

#ifdef _WIN32
bool underWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

std::vector<std::string> sortedLines(const std::string& head) {
    std::vector<std::string> lines;
    std::istringstream in(head);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}
#else
bool underWine() { return false; }
#endif

// Wine's WinHTTP takes the blank line after "HTTP/1.1 100 Continue" for a
// broken status line: error 12152, before anything reaches the transport.
constexpr const char* kWineInterim =
    "Wine's WinHTTP fails a response with an interim 100 head as invalid (12152); Windows reads past it";

int closedPort() {
    HttpServer gone;
    return gone.port();
}

using testing::residentBytes;

constexpr std::int64_t kMiB = 1024 * 1024;

// Keeps nothing; notes the highest resident memory it saw while the fetch ran,
// and ends a fetch that runs past its time instead of letting it run for ever.
struct MeasuringSink : ByteSink {
    explicit MeasuringSink(std::chrono::milliseconds limit) : limit(limit) {}
    void write(const char*, std::size_t size) override {
        received += static_cast<std::int64_t>(size);
        check();
    }
    void pulse() override { check(); }
    void check() {
        sample();
        if (std::chrono::steady_clock::now() - start > limit) throw AppError("still running when the time was up");
    }
    void sample() { peakResident = std::max(peakResident, residentBytes()); }
    std::int64_t growth() {
        sample();
        return peakResident - startResident;
    }
    const std::chrono::milliseconds limit;
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    const std::int64_t startResident = residentBytes();
    std::int64_t peakResident = startResident;
    std::int64_t received = 0;
};

TEST(HttpFetchStatus, ErrorStatusRaisesTheStatusLineAndLeavesTheTargetEmpty) {
    HttpServer server;
    server.route("/gone", HttpResponse::status("HTTP/1.1 404 Not Found", "<html>error page</html>"));
    server.route("/odd", HttpResponse::status("HTTP/1.0 503 Back Later Maybe", "busy"));
    server.route("/same", HttpResponse::status("HTTP/1.1 304 Not Modified"));
    HttpResponse noLocation = HttpResponse::status("HTTP/1.1 302 Found", "where?");
    server.route("/nowhere", noLocation);
    HttpClient client;
    MemorySink sink;
    EXPECT_EQ(fetchError(client, server.url("/gone"), sink), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(fetchError(client, server.url("/missing"), sink), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(fetchError(client, server.url("/odd"), sink), "HTTP/1.0 503 Back Later Maybe");
    EXPECT_EQ(fetchError(client, server.url("/same"), sink), "HTTP/1.1 304 Not Modified");
    EXPECT_EQ(fetchError(client, server.url("/nowhere"), sink), "HTTP/1.1 302 Found");
    EXPECT_EQ(sink.bytes, "");
}

TEST(HttpFetchRedirects, FourteenInARowAreFollowedToTheBody) {
    HttpServer server;
    server.serveBytes("/final", "the body");
    server.redirectChain("/r", 14, "/final");
    HttpClient client;
    MemorySink sink;
    client.fetch(server.url("/r"), sink);
    EXPECT_EQ(sink.bytes, "the body");  // redirect bodies never reach the target
    EXPECT_EQ(server.requests().size(), 15u);
}

TEST(HttpFetchRedirects, TheFifteenthFailsWithNothingWritten) {
    HttpServer server;
    server.serveBytes("/final", "the body");
    server.redirectChain("/r", 15, "/final");
    HttpClient client;
    MemorySink sink;
    EXPECT_EQ(fetchError(client, server.url("/r"), sink), "Too many redirects");
    EXPECT_EQ(sink.bytes, "");
    EXPECT_EQ(server.requests().size(), 15u);
    // The count starts again at each fetch.
    client.fetch(server.url("/r/1"), sink);
    EXPECT_EQ(sink.bytes, "the body");
}

TEST(HttpFetchRedirects, RelativeLocationsAndCookiesOfRedirectsCarryOver) {
    HttpServer server;
    HttpResponse hop = HttpResponse::redirect("../b/target?x=1", 301);
    hop.headers.emplace_back("Set-Cookie", "session=abc; Path=/");
    server.route("/a/start", hop);
    server.serveBytes("/b/target", "arrived");
    HttpClient client;
    MemorySink sink;
    client.fetch(server.url("/a/start"), sink);
    EXPECT_EQ(sink.bytes, "arrived");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/b/target?x=1");
    EXPECT_EQ(requests[1].header("Cookie"), "session=abc");
}

TEST(HttpFetchRequest, SendsExactlyTheClientHeaders) {
    HttpServer server;
    server.serveBytes("/f.zip", "x");
    HttpClient client;
    MemorySink sink;
    client.fetch(server.url("/f.zip"), sink);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
#ifdef _WIN32
    // WinHTTP orders the lines its own way and always adds this one.
    EXPECT_EQ(sortedLines(requests[0].head),
              sortedLines("Connection: Keep-Alive\r\n" + expectedRequestHead("/f.zip", server.port())));
#else
    EXPECT_EQ(requests[0].head, expectedRequestHead("/f.zip", server.port()));
#endif
}

TEST(HttpFetchRequest, CookiesComeBackAndTheConnectionIsReused) {
    HttpServer server;
    HttpResponse login = HttpResponse::ok("welcome");
    login.headers.emplace_back("Set-Cookie", "visitor=42; Path=/");
    server.route("/login", login);
    server.serveBytes("/next", "more");
    HttpClient client;
    MemorySink sink;
    client.fetch(server.url("/login"), sink);
    client.fetch(server.url("/next"), sink);
    client.fetch(server.url("/next"), sink);
    EXPECT_EQ(sink.bytes, "welcomemoremore");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(requests[0].hasHeader("Cookie"));
    EXPECT_EQ(requests[1].header("Cookie"), "visitor=42");
    EXPECT_EQ(server.connectionCount(), 1);

    // A second client starts with no cookies of its own.
    HttpClient other;
    other.fetch(server.url("/next"), sink);
    EXPECT_FALSE(server.requests().back().hasHeader("Cookie"));
}

TEST(HttpFetchBody, ChunkedInterimAndUntilCloseBodiesArriveWhole) {
    HttpServer server;
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
    HttpResponse chunked = HttpResponse::ok(big);
    chunked.framing = BodyFraming::Chunked;
    chunked.chunkSize = 777;
    server.route("/chunked", chunked);
    HttpResponse interim = HttpResponse::ok("after continue");
    interim.interimStatusLines = {"HTTP/1.1 100 Continue"};
    server.route("/interim", interim);
    HttpResponse untilClose = HttpResponse::ok("to the end");
    untilClose.framing = BodyFraming::UntilClose;
    server.route("/close", untilClose);
    server.route("/empty", HttpResponse::status("HTTP/1.1 204 No Content"));

    HttpClient client;
    MemorySink a, b, c, d;
    client.fetch(server.url("/chunked"), a);
    client.fetch(server.url("/close"), c);
    client.fetch(server.url("/empty"), d);
    EXPECT_TRUE(a.bytes == big);
    EXPECT_EQ(c.bytes, "to the end");
    EXPECT_EQ(d.bytes, "");
    if (underWine()) GTEST_SKIP() << kWineInterim;
    client.fetch(server.url("/interim"), b);
    EXPECT_EQ(b.bytes, "after continue");
}

TEST(HttpFetchBody, IntoAFileAsItArrives) {
    testing::TempFolder temp;
    HttpServer server;
    std::string body(1 << 20, 'q');
    server.serveBytes("/temp.zip", body);
    HttpClient client;
    {
        OutputFile file(temp / "temp.zip");
        FileSink sink(file);
        client.fetch(server.url("/temp.zip"), sink);
    }
    EXPECT_TRUE(testing::readFile(temp / "temp.zip") == body);
}

TEST(HttpFetchBody, ASlowSinkHoldsTheTransferBackInsteadOfLettingTheBodyPileUp) {
    // 256 MiB that the server sends as fast as loopback goes, to a disk that takes a fifth of a second a write.
    testing::TempFolder temp;
    {
        std::ofstream sparse(temp / "big.zip", std::ios::binary);
        sparse.seekp(256 * kMiB - 1);
        sparse.put('\0');
    }
    HttpServer server;
    server.serveFile("/big.zip", temp / "big.zip");
    struct SlowSink : MeasuringSink {
        SlowSink() : MeasuringSink(std::chrono::seconds(2)) {}
        void write(const char* data, std::size_t size) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            MeasuringSink::write(data, size);
        }
    } sink;
    HttpClient client;
    EXPECT_EQ(fetchError(client, server.url("/big.zip"), sink), "still running when the time was up");
    EXPECT_LT(sink.growth(), 32 * kMiB);
}

TEST(HttpFetchBody, ASinkThatFailsEndsTheFetchWithItsError) {
    struct FullDisk : ByteSink {
        void write(const char*, std::size_t) override { throw AppError("disk full"); }
    };
    HttpServer server;
    server.serveBytes("/a", std::string(100000, 'a'));
    HttpClient client;
    FullDisk full;
    EXPECT_EQ(fetchError(client, server.url("/a"), full), "disk full");
    MemorySink sink;
    client.fetch(server.url("/a"), sink);
    EXPECT_EQ(sink.bytes.size(), 100000u);
}

TEST(HttpFetchFailures, ClosingEarlyIsAnErrorNotAShortDownload) {
    HttpServer server;
    HttpResponse cut = HttpResponse::ok(std::string(152 * 1024, 'c'));
    cut.sendOnly = 130 * 1024;
    server.route("/cut", cut);
    HttpResponse cutChunks = cut;
    cutChunks.framing = BodyFraming::Chunked;
    server.route("/cutchunks", cutChunks);
    HttpResponse silent;
    silent.closeBeforeStatus = true;
    server.route("/silent", silent);
    HttpResponse halfHead;
    halfHead.raw = "HTTP/1.1 200 OK\r\nContent-Le";
    server.route("/halfhead", halfHead);
    // A body that breaks off says how much of it came; a server that never answered says so.
    EXPECT_EQ(fetchError(server.url("/cut")), "The download was cut short: 130 of 152 KB arrived.");
    EXPECT_EQ(fetchError(server.url("/silent")), "Connection Closed Gracefully.");
    EXPECT_EQ(fetchError(server.url("/halfhead")), "Connection Closed Gracefully.");
    if (underWine())
        GTEST_SKIP() << "Wine's WinHTTP ends a chunked body at the closed connection without an error, "
                        "so an unterminated one cannot be told from a whole one";
    EXPECT_EQ(fetchError(server.url("/cutchunks")), "The download was cut short: 130 KB arrived.");
}

TEST(HttpFetchFailures, AnErrorOrRedirectWhoseBodyBreaksOffStillCounts) {
    HttpServer server;
    HttpResponse error = HttpResponse::status("HTTP/1.1 500 Internal Server Error", std::string(5000, 'e'));
    error.sendOnly = 100;
    server.route("/error", error);
    HttpResponse hop = HttpResponse::redirect(server.url("/final"));
    hop.body = std::string(5000, 'r');
    hop.sendOnly = 10;
    server.route("/hop", hop);
    server.serveBytes("/final", "final");
    HttpClient client;
    MemorySink sink;
    EXPECT_EQ(fetchError(client, server.url("/error"), sink), "HTTP/1.1 500 Internal Server Error");
    client.fetch(server.url("/hop"), sink);
    EXPECT_EQ(sink.bytes, "final");
}

TEST(HttpFetchFailures, AnEndlessErrorOrRedirectBodyEndsTheFetchSoonWithItsStatusLine) {
    HttpServer server;
    HttpResponse endlessError = HttpResponse::status("HTTP/1.1 404 Not Found");
    endlessError.framing = BodyFraming::UntilClose;
    endlessError.endless = true;
    server.route("/version.txt", endlessError);
    HttpResponse endlessHop = HttpResponse::redirect("/final");
    endlessHop.framing = BodyFraming::UntilClose;
    endlessHop.endless = true;
    server.route("/hop", endlessHop);
    server.serveBytes("/final", "final");
    HttpClient client;
    {
        MeasuringSink sink(std::chrono::seconds(5));
        EXPECT_EQ(fetchError(client, server.url("/version.txt"), sink), "HTTP/1.1 404 Not Found");
        EXPECT_LT(sink.growth(), 64 * kMiB);
    }
    {
        MeasuringSink sink(std::chrono::seconds(5));
        EXPECT_EQ(fetchError(client, server.url("/hop"), sink), "HTTP/1.1 302 Found");
        EXPECT_LT(sink.growth(), 64 * kMiB);
        EXPECT_EQ(sink.received, 0);
    }
    EXPECT_EQ(server.requests().size(), 2u);  // the endless redirect was not followed
}

TEST(HttpFetchFailures, WhatIsReadAndDroppedStopsAtSixtyFourKibibytes) {
    HttpServer server;
    server.serveBytes("/final", "final");
    HttpResponse hop = HttpResponse::redirect("/final");
    hop.body = std::string(64 * 1024, 'r');
    server.route("/hop", hop);
    hop.body += 'r';
    server.route("/longer", hop);
    HttpResponse chatty = HttpResponse::ok("after them");
    chatty.interimStatusLines.assign(2000, "HTTP/1.1 100 Continue");  // 50,000 bytes of interim heads
    server.route("/chatty", chatty);
    chatty.interimStatusLines.assign(3000, "HTTP/1.1 100 Continue");  // 75,000
    server.route("/chattier", chatty);
    HttpClient client;
    MemorySink sink;
    client.fetch(server.url("/hop"), sink);
    EXPECT_EQ(sink.bytes, "final");
    EXPECT_EQ(fetchError(client, server.url("/longer"), sink), "HTTP/1.1 302 Found");
    if (underWine()) GTEST_SKIP() << kWineInterim;
    client.fetch(server.url("/chatty"), sink);
    EXPECT_EQ(sink.bytes, "finalafter them");
    EXPECT_EQ(fetchError(client, server.url("/chattier"), sink), "HTTP/1.1 100 Continue");
    EXPECT_EQ(sink.bytes, "finalafter them");
}

TEST(HttpFetchFailures, AStalledServerTimesOutWhileTheSinkKeepsBeingPulsed) {
    struct CountingSink : MemorySink {
        void pulse() override { ++pulses; }
        int pulses = 0;
    };
    HttpServer server;
    HttpResponse stall = HttpResponse::ok(std::string(1000, 's'));
    stall.stallAfterHeaders = true;
    server.route("/stall", stall);
    HttpClient client;
    client.setStallTimeout(1);
    CountingSink sink;
    EXPECT_EQ(fetchError(client, server.url("/stall"), sink), "Socket Error # 10060\r\nConnection timed out.");
    EXPECT_EQ(sink.bytes, "");
    // Not a byte for a second or more, and the window was still to be served all along.
    EXPECT_GE(sink.pulses, 8);
}

TEST(HttpFetchFailures, UnreachableHostsGiveSocketErrors) {
    EXPECT_EQ(fetchError("http://127.0.0.1:" + std::to_string(closedPort()) + "/x"),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(fetchError("http://no-such-vendor.invalid/temp.zip"), "Socket Error # 11001\r\nHost not found.");
}

TEST(HttpFetchFailures, TooManyHeaderLinesFailInsteadOfSpillingIntoTheBody) {
    HttpServer server;
    HttpResponse many = HttpResponse::ok("body");
    many.fillerHeaderLines = 300;
    server.route("/many", many);
    HttpResponse enough = HttpResponse::ok("body");
    enough.fillerHeaderLines = 250;
    server.route("/enough", enough);
    HttpClient client;
    MemorySink sink;
    EXPECT_EQ(fetchError(client, server.url("/many"), sink), "The response has more than 255 header lines");
    EXPECT_EQ(sink.bytes, "");
    client.fetch(server.url("/enough"), sink);
    EXPECT_EQ(sink.bytes, "body");
}

#ifdef QUILL_TEST_TLS
// A vendor host on TLS, with a certificate from an authority only this client trusts.
class HttpsFetch : public ::testing::Test {
protected:
    HttpsFetch() { client_.trustOnlyForTests(authority_.certificatePem()); }

    testing::TestCertificateAuthority authority_;
    HttpServer server_{authority_.issue("IP:127.0.0.1")};
    HttpClient client_;
    MemorySink sink_;
};

TEST_F(HttpsFetch, AVerifiedHostAnswersTheSameRequestOverOneConnection) {
    testing::TempFolder temp;
    std::string archive(300000, '\0');
    for (std::size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>(i * 13 % 251);
    testing::writeFile(temp / "template.zip", archive);
    server_.serveFile("/template.zip", temp / "template.zip");
    server_.serveBytes("/temp.zip", "catalogue bytes");
    client_.fetch(server_.url("/temp.zip"), sink_);
    EXPECT_EQ(sink_.bytes, "catalogue bytes");
    MemorySink file;
    client_.fetch(server_.url("/template.zip"), file);
    EXPECT_TRUE(file.bytes == archive);
    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].head, expectedRequestHead("/temp.zip", server_.port()));
    EXPECT_EQ(server_.connectionCount(), 1);
}

TEST_F(HttpsFetch, AnUnknownAuthorityFailsWithCurlsReasonAndNothingSent) {
    testing::TestCertificateAuthority stranger("Stranger Authority");
    HttpServer impostor(stranger.issue("IP:127.0.0.1"));
    impostor.serveBytes("/temp.zip", "forged");
    HttpClient plainClient;  // as the program has it: the system's store only
    EXPECT_EQ(fetchError(plainClient, impostor.url("/temp.zip"), sink_),
              "SSL certificate problem: unable to get local issuer certificate");
    EXPECT_EQ(fetchError(client_, impostor.url("/temp.zip"), sink_),
              "SSL certificate problem: unable to get local issuer certificate");
    EXPECT_TRUE(impostor.requests().empty());
    EXPECT_EQ(sink_.bytes, "");
}

TEST_F(HttpsFetch, ACertificateForAnotherHostFails) {
    HttpServer elsewhere(authority_.issue("DNS:downloads.example.com"));
    elsewhere.serveBytes("/temp.zip", "not for this host");
    EXPECT_EQ(fetchError(client_, elsewhere.url("/temp.zip"), sink_),
              "SSL: no alternative certificate subject name matches target host name '127.0.0.1'");
    EXPECT_TRUE(elsewhere.requests().empty());
    EXPECT_EQ(sink_.bytes, "");
}

TEST_F(HttpsFetch, ARedirectToPlainHttpIsRefusedBeforeAnythingIsSent) {
    HttpServer plain;
    plain.serveBytes("/update.zip", "unprotected");
    server_.route("/update.zip", HttpResponse::redirect(plain.url("/update.zip")));
    server_.route("/hop", HttpResponse::redirect(server_.url("/update.zip")));
    EXPECT_EQ(fetchError(client_, server_.url("/update.zip"), sink_), "Redirect from HTTPS to HTTP refused");
    EXPECT_EQ(fetchError(client_, server_.url("/hop"), sink_), "Redirect from HTTPS to HTTP refused");
    EXPECT_TRUE(plain.requests().empty());
    EXPECT_EQ(sink_.bytes, "");
}

TEST_F(HttpsFetch, APlainAddressRedirectedToHttpsIsFollowed) {
    HttpServer plain;
    plain.route("/quillary-web/update/version.txt", HttpResponse::redirect(server_.url("/update/version.txt"), 301));
    server_.serveBytes("/update/version.txt", "[Quillary]\r\nversion=1.1\r\n");
    client_.fetch(plain.url("/quillary-web/update/version.txt"), sink_);
    EXPECT_EQ(sink_.bytes, "[Quillary]\r\nversion=1.1\r\n");
    EXPECT_EQ(plain.requests().size(), 1u);
    EXPECT_EQ(server_.requests().size(), 1u);
}

#else
constexpr const char* kNoTlsServer =
    "the test server's TLS and the test authority need OpenSSL, which has no Windows build here";
TEST(HttpsFetch, AVerifiedHostAnswersTheSameRequestOverOneConnection) { GTEST_SKIP() << kNoTlsServer; }
TEST(HttpsFetch, AnUnknownAuthorityFailsWithCurlsReasonAndNothingSent) { GTEST_SKIP() << kNoTlsServer; }
TEST(HttpsFetch, ACertificateForAnotherHostFails) { GTEST_SKIP() << kNoTlsServer; }
TEST(HttpsFetch, ARedirectToPlainHttpIsRefusedBeforeAnythingIsSent) { GTEST_SKIP() << kNoTlsServer; }
TEST(HttpsFetch, APlainAddressRedirectedToHttpsIsFollowed) { GTEST_SKIP() << kNoTlsServer; }
#endif

TEST(HttpSocketErrors, CodesWithoutATextLeaveTheSecondLineEmpty) {
    EXPECT_EQ(socketErrorText(10054), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_EQ(socketErrorText(10099), "Socket Error # 10099\r\n");
}

}  // namespace
}  // namespace quill
