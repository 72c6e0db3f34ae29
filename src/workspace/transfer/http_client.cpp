#include "workspace/transfer/http_client.h"

#include "platform/error.h"
#include "workspace/transfer/http_socket_errors.h"
#include "workspace/transfer/http_transport.h"
#include "workspace/transfer/transfer_amount.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

namespace quill {

namespace {

constexpr int kRedirectLimit = 15;    // the 15th redirect in a row ends the fetch
constexpr int kMaxHeaderLines = 255;  // per response
constexpr const char* kClosedGracefully = "Connection Closed Gracefully.";
// How often a running fetch lets its sink know, bytes or not: often enough for a
// window that repaints and a cancel that is noticed at once.
constexpr std::chrono::milliseconds kPulse{100};
// What the transfer's thread may hold for the fetching thread before it waits:
// a few of the transport's reads, so a slow disk slows the transfer rather than filling memory.
constexpr std::size_t kMostQueued = 2 * 1024 * 1024;
// What a response may bring that nobody reads (an error page, a redirect's
// body, interim heads) before the fetch gives up on it: a server that never
// ends one would otherwise hold the fetch for ever, as the stall timer never fires.
constexpr std::size_t kMostDropped = 64 * 1024;

using Clock = std::chrono::steady_clock;

int statusCode(const std::string& statusLine) {
    std::size_t space = statusLine.find(' ');
    return space == std::string::npos ? 0 : std::atoi(statusLine.c_str() + space + 1);
}

std::string schemeOf(const std::string& url) {
    std::size_t colon = url.find(':');
    std::size_t firstSlash = url.find('/');
    if (colon == std::string::npos || colon == 0 || (firstSlash != std::string::npos && firstSlash < colon)) return "";
    std::string scheme = url.substr(0, colon);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme;
}

bool sameNameIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return i == a.size() && !b[i];
}

}  // namespace

struct HttpClient::Impl : HttpTransport::Receiver {
    std::unique_ptr<HttpTransport> transport = makeHttpTransport();

    // State of the one response being read, written by the transfer's thread
    // and read by the fetching thread once that thread has ended.
    ByteSink* sink = nullptr;
    std::string statusLine;
    std::string location;
    std::int64_t announcedLength = -1;
    int headerLines = 0;
    bool tooManyHeaders = false;
    bool bodyBegun = false;
    bool bodyStarted = false;
    bool bodyToSink = false;
    std::size_t dropped = 0;  // of this request: interim heads and a body not for the sink
    bool droppedTooMuch = false;
    std::int64_t bodyReceived = 0;  // of the body for the sink
    Clock::time_point nextPulse;

    // What the transfer's thread hands to the fetching thread, which alone
    // talks to the sink: the body's announced length, then its bytes in order.
    struct Handover {
        std::mutex lock;
        std::condition_variable changed;
        std::deque<std::string> chunks;
        std::size_t queued = 0;
        bool beginPending = false;
        std::int64_t beginTotal = -1;
        bool finished = false;
        bool stop = false;  // the fetching thread gave up: end the transfer
        TransportEnding ending;
    } handover;

    void startResponse(ByteSink* target) {
        sink = target;
        statusLine.clear();
        location.clear();
        announcedLength = -1;
        headerLines = 0;
        tooManyHeaders = false;
        bodyBegun = false;
        bodyStarted = false;
        bodyToSink = false;
        dropped = 0;
        droppedTooMuch = false;
        bodyReceived = 0;
        std::lock_guard<std::mutex> hold(handover.lock);
        handover.chunks.clear();
        handover.queued = 0;
        handover.beginPending = false;
        handover.beginTotal = -1;
        handover.finished = false;
        handover.stop = false;
        handover.ending = TransportEnding{};
    }

    // False once what was read and dropped passes the cap: the transfer must end.
    bool drop(std::size_t length) {
        dropped += length;
        if (dropped <= kMostDropped) return true;
        droppedTooMuch = true;
        return false;
    }

    // On the transfer's thread: something for the fetching thread, which may be waiting for it.
    void hand(std::unique_lock<std::mutex>& hold, bool wasIdle) {
        hold.unlock();
        handover.changed.notify_all();
        if (wasIdle) sink->wakeEvents();
    }

    bool headerLine(const char* data, std::size_t length) override {
        std::string line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        const bool startsResponse = line.compare(0, 5, "HTTP/") == 0 && !bodyStarted;
        if (startsResponse) {
            // Each response, interim ones too, starts its own count.
            statusLine = line;
            headerLines = 0;
            location.clear();
            announcedLength = -1;
        }
        const int code = statusCode(statusLine);
        // Interim heads can follow each other without end, each under the line limit.
        if (!bodyStarted && code >= 100 && code < 200 && !drop(length)) return false;
        if (startsResponse) return true;
        if (!line.empty()) {
            if (++headerLines > kMaxHeaderLines) {
                tooManyHeaders = true;
                return false;
            }
            if (!bodyStarted) noteHeader(line);
        } else if (!bodyBegun) {
            // The end of a head: a final 2xx one announces the body the sink gets.
            if (code >= 200 && code < 300) {
                bodyBegun = true;
                std::unique_lock<std::mutex> hold(handover.lock);
                if (handover.stop) return false;
                handover.beginPending = true;
                handover.beginTotal = std::max<std::int64_t>(announcedLength, -1);
                hand(hold, true);
            }
        }
        return true;
    }

    void noteHeader(const std::string& line) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) return;
        const std::string name = line.substr(0, colon);
        const std::size_t start = line.find_first_not_of(" \t", colon + 1);
        const std::size_t end = line.find_last_not_of(" \t");
        const std::string value = start == std::string::npos ? std::string() : line.substr(start, end + 1 - start);
        if (sameNameIgnoringCase(name, "Location")) {
            location = value;
        } else if (sameNameIgnoringCase(name, "Content-Length") && announcedLength != -2) {
            char* rest = nullptr;
            const long long length = std::strtoll(value.c_str(), &rest, 10);
            announcedLength = !value.empty() && *rest == '\0' && length >= 0 ? length : -1;
        } else if (sameNameIgnoringCase(name, "Transfer-Encoding")) {
            announcedLength = -2;  // chunks: any length given is not the body's
        }
    }

    bool body(const char* data, std::size_t length) override {
        if (!bodyStarted) {
            bodyStarted = true;
            bodyToSink = bodyBegun;
        }
        // Redirect and error bodies are read and dropped, never written to the target.
        if (!bodyToSink) return drop(length);
        bodyReceived += static_cast<std::int64_t>(length);
        std::unique_lock<std::mutex> hold(handover.lock);
        handover.changed.wait(hold, [&] { return handover.stop || handover.queued < kMostQueued; });
        if (handover.stop) return false;
        const bool wasIdle = handover.chunks.empty() && !handover.beginPending;
        handover.chunks.emplace_back(data, length);
        handover.queued += length;
        hand(hold, wasIdle);
        return true;
    }

    // Runs the exchange on a thread of its own, while this thread hands what
    // arrives to the sink, pulses it, and lets the sink wait for window events
    // in between; whatever the sink raises ends the exchange and propagates.
    TransportEnding perform(const std::string& address) {
        transport->clearInterrupt();
        std::thread transfer([this, address] {
            TransportEnding ending;
            try {
                ending = transport->exchange(address, *this);
            } catch (const std::bad_alloc&) {
                ending.kind = TransportEnding::Kind::OutOfMemory;
            }
            std::unique_lock<std::mutex> hold(handover.lock);
            handover.ending = std::move(ending);
            handover.finished = true;
            hand(hold, true);
        });
        try {
            serveSink();
        } catch (...) {
            {
                std::lock_guard<std::mutex> hold(handover.lock);
                handover.stop = true;
            }
            handover.changed.notify_all();
            transport->interrupt();
            transfer.join();
            throw;
        }
        transfer.join();
        return handover.ending;
    }

    void serveSink() {
        std::deque<std::string> arrived;
        for (;;) {
            bool begin = false;
            std::int64_t total = -1;
            bool finished = false;
            {
                std::lock_guard<std::mutex> hold(handover.lock);
                arrived.swap(handover.chunks);
                handover.queued = 0;
                begin = handover.beginPending;
                handover.beginPending = false;
                total = handover.beginTotal;
                finished = handover.finished;
            }
            handover.changed.notify_all();  // room again
            if (begin) sink->begin(total);
            for (const std::string& chunk : arrived) sink->write(chunk.data(), chunk.size());
            arrived.clear();
            const Clock::time_point now = Clock::now();
            if (now >= nextPulse) {
                nextPulse = now + kPulse;
                sink->pulse();
            }
            if (finished) return;
            const auto wait = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(nextPulse - Clock::now()),
                                       std::chrono::milliseconds(0));
            if (!sink->awaitEvents(wait)) {
                std::unique_lock<std::mutex> hold(handover.lock);
                handover.changed.wait_for(hold, wait, [&] {
                    return handover.finished || handover.beginPending || !handover.chunks.empty();
                });
            }
        }
    }

    // A body that broke off is not the server closing before it answered: say how much came.
    std::string cutShortText() const {
        return "The download was cut short: " + transferAmountText(bodyReceived, announcedLength >= 0 ? announcedLength : -1) +
               " arrived.";
    }

    [[noreturn]] void raiseFor(const TransportEnding& ending) {
        switch (ending.kind) {
        case TransportEnding::Kind::Closed:
            // Closed before a status line, or before the body announced was all there.
            if (bodyBegun) throw AppError(cutShortText());
            if (ending.code == 0 || !statusLine.empty()) throw AppError(kClosedGracefully);
            throw AppError(socketErrorText(ending.code));
        case TransportEnding::Kind::SocketError:
            throw AppError(socketErrorText(ending.code));
        case TransportEnding::Kind::OutOfMemory:
            throw std::bad_alloc();
        case TransportEnding::Kind::Stopped:
            throw AppError(ending.text.empty() ? std::string("The transfer was stopped") : ending.text);
        case TransportEnding::Kind::Failed:
        case TransportEnding::Kind::Complete:
            break;
        }
        throw AppError(ending.text);
    }
};

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) { setStallTimeout(60); }

HttpClient::~HttpClient() = default;

void HttpClient::setStallTimeout(int seconds) { impl_->transport->setStallTimeout(seconds > 0 ? seconds : 1); }

void HttpClient::trustOnlyForTests(const std::string& certificatesPem) {
    impl_->transport->trustOnlyForTests(certificatesPem);
}

void HttpClient::fetch(const std::string& url, ByteSink& sink) {
    std::string address = url;
    bool secure = false;
    impl_->nextPulse = Clock::now() + kPulse;
    for (int redirects = 0;;) {
        std::string scheme = schemeOf(address);
        if (scheme != "http" && scheme != "https") throw AppError("Unknown Protocol");
        // Once on TLS, a plain hop would hand the request to anyone on the way.
        if (secure && scheme == "http") throw AppError("Redirect from HTTPS to HTTP refused");
        secure = scheme == "https";

        impl_->startResponse(&sink);
        const TransportEnding ending = impl_->perform(address);
        // What it said is all that counts, and it may not be acted on: a redirect is not followed.
        if (impl_->droppedTooMuch) throw AppError(impl_->statusLine);
        if (impl_->tooManyHeaders)
            throw AppError("The response has more than " + std::to_string(kMaxHeaderLines) + " header lines");
        int code = statusCode(impl_->statusLine);
        // A redirect or error whose body breaks off still says what it had to say.
        bool bodyOfNoInterest = ending.whileReading && code >= 300;
        if (ending.kind != TransportEnding::Kind::Complete && !bodyOfNoInterest) impl_->raiseFor(ending);

        if (code >= 200 && code < 300) {
            // A head cut off before its blank line is no empty body.
            if (!impl_->bodyBegun) throw AppError(kClosedGracefully);
            // A stack that takes a closed connection for the body's end must not pass off a short one as whole.
            if (impl_->announcedLength >= 0 && impl_->bodyReceived < impl_->announcedLength)
                throw AppError(impl_->cutShortText());
            return;
        }
        if (code >= 300 && code < 400 && code != 304 && !impl_->location.empty()) {
            // Ending quietly here would leave an empty target looking like a download.
            if (++redirects >= kRedirectLimit) throw AppError("Too many redirects");
            address = impl_->transport->resolve(address, impl_->location);
            continue;
        }
        throw AppError(impl_->statusLine);
    }
}

}  // namespace quill
