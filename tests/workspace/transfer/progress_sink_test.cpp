// A download from a slow vendor host as the user lives through it: the windows
// keep getting their events, a shown download says how far it is, and a cancel
// stops it at once.
#include "workspace/transfer/progress_sink.h"

#include "support/error_of.h"
#include "support/fake_screen.h"
#include "vendorkit/http_server.h"
#include "workspace/transfer/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quill {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vendorkit::HttpResponse;
using vendorkit::HttpServer;

std::string bodyOf(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>(i * 31 % 253);
    return body;
}

HttpResponse slowly(const std::string& body, std::size_t bytesPerSecond) {
    HttpResponse response = HttpResponse::ok(body);
    response.bytesPerSecond = bytesPerSecond;
    return response;
}

std::vector<Clock::time_point> pumpsDuring(const testing::FakeScreen& screen) {
    std::vector<Clock::time_point> pumps;
    for (const auto& moment : screen.duringTransfer)
        if (moment.event == "pump") pumps.push_back(moment.at);
    return pumps;
}

std::chrono::milliseconds longestGap(Clock::time_point start, const std::vector<Clock::time_point>& pumps,
                                     Clock::time_point end) {
    std::chrono::milliseconds longest{0};
    Clock::time_point last = start;
    for (Clock::time_point at : pumps) {
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(at - last));
        last = at;
    }
    return std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(end - last));
}

TEST(ShownDownload, PumpsEventsAndShowsTheShareReceivedAsTheBodyTrickles) {
    const std::string body = bodyOf(2 << 20);  // about two and a half seconds
    HttpServer server;
    server.route("/template.zip", slowly(body, 800 * 1024));
    HttpClient client;
    testing::FakeScreen screen;

    MemorySink sized;
    const Clock::time_point start = Clock::now();
    {
        ProgressSink sink(sized, screen, ProgressSink::Display::Shown);
        client.fetch(server.url("/template.zip"), sink);
    }
    const Clock::time_point end = Clock::now();
    EXPECT_TRUE(sized.bytes == body);
    EXPECT_EQ(screen.events, (std::vector<std::string>{"transfer:shown", "transfer:end"}));
    EXPECT_LE(longestGap(start, pumpsDuring(screen), end), 150ms);
    const auto& shown = screen.shown;
    ASSERT_GE(shown.size(), 10u);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i].total, static_cast<std::int64_t>(body.size()));
        if (i > 0) {
            EXPECT_GE(shown[i].received, shown[i - 1].received);
        }
    }
    EXPECT_LT(shown.front().received, static_cast<std::int64_t>(body.size()) / 4);
    EXPECT_GT(shown.back().received, static_cast<std::int64_t>(body.size()) / 2);
}

TEST(ShownDownload, ACancelFromAPumpedEventEndsTheFetchAtOnce) {
    const std::string body = bodyOf(3 << 20);
    HttpServer server;
    server.route("/template.zip", slowly(body, 600 * 1024));
    server.serveBytes("/next.zip", "next");
    HttpClient client;
    testing::FakeScreen screen;
    MemorySink target;
    Clock::time_point cancelledAt{};
    screen.onPump = [&] {
        // The user clicks Cancel once the download is well under way.
        if (target.bytes.size() > 300000 && !screen.cancelAnswer) {
            screen.cancelAnswer = true;
            cancelledAt = Clock::now();
        }
    };
    std::string error;
    {
        ProgressSink sink(target, screen, ProgressSink::Display::Shown);
        error = testing::errorOf([&] { client.fetch(server.url("/template.zip"), sink); });
    }
    const Clock::time_point ended = Clock::now();
    EXPECT_EQ(error, "Download cancelled.");
    ASSERT_TRUE(screen.cancelAnswer);
    EXPECT_LE(ended - cancelledAt, 500ms);
    EXPECT_LT(target.bytes.size(), body.size() / 2);
    EXPECT_EQ(screen.events.back(), "transfer:end");

    // The cut connection is not used again; the client goes on as before.
    screen.cancelAnswer = false;
    screen.onPump = nullptr;
    MemorySink next;
    client.fetch(server.url("/next.zip"), next);
    EXPECT_EQ(next.bytes, "next");
    EXPECT_EQ(server.connectionCount(), 2);
}

}  // namespace
}  // namespace quill
