#include "workspace/transfer/http_client.h"

#include "platform/error.h"
#include "workspace/transfer/http_socket_errors.h"
#include "workspace/transfer/transfer_amount.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <curl/curl.h>
#include <deque>
#include <mutex>
#include <new>
#include <strings.h>
#include <thread>

namespace quill {

namespace {

constexpr int kRedirectLimit = 15;    // the 15th redirect in a row ends the fetch
constexpr int kMaxHeaderLines = 255;  // per response
constexpr long kReceiveBuffer = 512 * 1024;
constexpr const char* kClosedGracefully = "Connection Closed Gracefully.";
// How often a running fetch lets its sink know, bytes or not: often enough for a
// window that repaints and a cancel that is noticed at once.
constexpr std::chrono::milliseconds kPulse{100};
// What the transfer's thread may hold for the fetching thread before it waits:
// a few receive buffers, so a slow disk slows the transfer rather than filling memory.
constexpr std::size_t kMostQueued = 4 * kReceiveBuffer;
// What a response may bring that nobody reads (an error page, a redirect's
// body, interim heads) before the fetch gives up on it: a server that never
// ends one would otherwise hold the fetch for ever, as the stall timer never fires.
constexpr std::size_t kMostDropped = 64 * 1024;

using Clock = std::chrono::steady_clock;

// libcurl wants one global set-up per process before the first handle.
void initialiseCurlOnce() {
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

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

// A Location may be relative to the address that answered with it.
std::string resolveLocation(const std::string& base, const std::string& location) {
    CURLU* url = curl_url();
    if (!url) throw std::bad_alloc();
    std::string resolved = location;
    char* text = nullptr;
    if (curl_url_set(url, CURLUPART_URL, base.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
        resolved = text;
        curl_free(text);
    }
    curl_url_cleanup(url);
    return resolved;
}

}  // namespace

struct HttpClient::Impl {
    CURL* curl = nullptr;
    CURLM* multi = nullptr;  // drives the transfer, so the sink hears from it between bytes too
    curl_slist* headers = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};

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
        CURLcode result = CURLE_OK;
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
        errorBuffer[0] = '\0';
        std::lock_guard<std::mutex> hold(handover.lock);
        handover.chunks.clear();
        handover.queued = 0;
        handover.beginPending = false;
        handover.beginTotal = -1;
        handover.finished = false;
        handover.stop = false;
        handover.result = CURLE_OK;
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

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        std::size_t length = size * count;
        std::string line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        const bool startsResponse = line.compare(0, 5, "HTTP/") == 0 && !impl->bodyStarted;
        if (startsResponse) {
            // Each response, interim ones too, starts its own count.
            impl->statusLine = line;
            impl->headerLines = 0;
            impl->location.clear();
            impl->announcedLength = -1;
        }
        const int code = statusCode(impl->statusLine);
        // Interim heads can follow each other without end, each under the line limit.
        if (!impl->bodyStarted && code >= 100 && code < 200 && !impl->drop(length)) return 0;
        if (startsResponse) return length;
        if (!line.empty()) {
            if (++impl->headerLines > kMaxHeaderLines) {
                impl->tooManyHeaders = true;
                return 0;
            }
            if (!impl->bodyStarted) impl->noteHeader(line);
        } else if (!impl->bodyBegun) {
            // The end of a head: a final 2xx one announces the body the sink gets.
            if (code >= 200 && code < 300) {
                impl->bodyBegun = true;
                std::unique_lock<std::mutex> hold(impl->handover.lock);
                if (impl->handover.stop) return 0;
                impl->handover.beginPending = true;
                impl->handover.beginTotal = std::max<std::int64_t>(impl->announcedLength, -1);
                impl->hand(hold, true);
            }
        }
        return length;
    }

    void noteHeader(const std::string& line) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) return;
        const std::string name = line.substr(0, colon);
        const std::size_t start = line.find_first_not_of(" \t", colon + 1);
        const std::size_t end = line.find_last_not_of(" \t");
        const std::string value = start == std::string::npos ? std::string() : line.substr(start, end + 1 - start);
        if (strcasecmp(name.c_str(), "Location") == 0) {
            location = value;
        } else if (strcasecmp(name.c_str(), "Content-Length") == 0 && announcedLength != -2) {
            char* rest = nullptr;
            const long long length = std::strtoll(value.c_str(), &rest, 10);
            announcedLength = !value.empty() && *rest == '\0' && length >= 0 ? length : -1;
        } else if (strcasecmp(name.c_str(), "Transfer-Encoding") == 0) {
            announcedLength = -2;  // chunks: any length given is not the body's
        }
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        std::size_t length = size * count;
        if (!impl->bodyStarted) {
            impl->bodyStarted = true;
            impl->bodyToSink = impl->bodyBegun;
        }
        // Redirect and error bodies are read and dropped, never written to the target.
        if (!impl->bodyToSink) return impl->drop(length) ? length : 0;
        impl->bodyReceived += static_cast<std::int64_t>(length);
        Handover& handover = impl->handover;
        std::unique_lock<std::mutex> hold(handover.lock);
        handover.changed.wait(hold, [&] { return handover.stop || handover.queued < kMostQueued; });
        if (handover.stop) return CURL_WRITEFUNC_ERROR;
        const bool wasIdle = handover.chunks.empty() && !handover.beginPending;
        handover.chunks.emplace_back(data, length);
        handover.queued += length;
        impl->hand(hold, wasIdle);
        return length;
    }

    // Runs the transfer the easy handle is set up for on a thread of its own,
    // while this thread hands what arrives to the sink, pulses it, and lets
    // the sink wait for window events in between; whatever the sink raises
    // ends the transfer and propagates.
    CURLcode perform() {
        check(curl_multi_add_handle(multi, curl));
        struct Detach {
            Impl& impl;
            ~Detach() { curl_multi_remove_handle(impl.multi, impl.curl); }
        } detach{*this};
        std::thread transfer([this] { transferUntilDone(); });
        try {
            serveSink();
        } catch (...) {
            {
                std::lock_guard<std::mutex> hold(handover.lock);
                handover.stop = true;
            }
            handover.changed.notify_all();
            curl_multi_wakeup(multi);
            transfer.join();
            throw;
        }
        transfer.join();
        return handover.result;
    }

    // On the transfer's thread.
    void transferUntilDone() {
        CURLcode result = CURLE_FAILED_INIT;
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) break;
            if (running == 0) {
                int queued = 0;
                while (CURLMsg* message = curl_multi_info_read(multi, &queued))
                    if (message->msg == CURLMSG_DONE && message->easy_handle == curl) result = message->data.result;
                break;
            }
            {
                std::lock_guard<std::mutex> hold(handover.lock);
                if (handover.stop) {
                    result = CURLE_ABORTED_BY_CALLBACK;
                    break;
                }
            }
            // A stop from the fetching thread wakes this wait at once.
            if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) break;
        }
        std::unique_lock<std::mutex> hold(handover.lock);
        handover.result = result;
        handover.finished = true;
        hand(hold, true);
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

    static void check(CURLMcode rc) {
        if (rc == CURLM_OK) return;
        if (rc == CURLM_OUT_OF_MEMORY) throw std::bad_alloc();
        throw AppError(curl_multi_strerror(rc));
    }

    [[noreturn]] void raiseFor(CURLcode rc) {
        long osError = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
        int wsa = wsaCodeForErrno(static_cast<int>(osError));
        switch (rc) {
        case CURLE_COULDNT_RESOLVE_HOST:
            throw AppError(socketErrorText(11001));
        case CURLE_COULDNT_CONNECT:
            throw AppError(socketErrorText(wsa ? wsa : 10061));
        case CURLE_OPERATION_TIMEDOUT:
            throw AppError(socketErrorText(10060));
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            // Closed before a status line, or before the body announced was all there.
            if (bodyBegun) throw AppError(cutShortText());
            throw AppError(kClosedGracefully);
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            if (osError == 0 && bodyBegun) throw AppError(cutShortText());
            if (osError == 0 && !statusLine.empty()) throw AppError(kClosedGracefully);
            throw AppError(socketErrorText(wsa ? wsa : 10054));
        case CURLE_OUT_OF_MEMORY:
            throw std::bad_alloc();
        default:
            break;
        }
        throw AppError(errorBuffer[0] ? std::string(errorBuffer) : std::string(curl_easy_strerror(rc)));
    }
};

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {
    initialiseCurlOnce();
    CURL* curl = curl_easy_init();
    if (!curl) throw std::bad_alloc();
    impl_->curl = curl;
    impl_->multi = curl_multi_init();
    if (!impl_->multi) throw std::bad_alloc();
    for (const char* header : {"Accept: text/html, */*,*.zip", "Accept-Encoding: identity",
                               "User-Agent: Mozilla/4.0 (compatible; Indy Library)"}) {
        curl_slist* grown = curl_slist_append(impl_->headers, header);
        if (!grown) throw std::bad_alloc();
        impl_->headers = grown;
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, impl_->headers);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // Certificate and host name are checked against the system's store (libcurl's defaults, stated here).
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");  // cookies in memory, for this client's life
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, impl_->errorBuffer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, impl_.get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Impl::onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, impl_.get());
    setStallTimeout(60);
}

HttpClient::~HttpClient() {
    curl_multi_cleanup(impl_->multi);
    curl_easy_cleanup(impl_->curl);
    curl_slist_free_all(impl_->headers);
}

void HttpClient::setStallTimeout(int seconds) {
    const long limit = seconds > 0 ? seconds : 1;
    // Less than a byte a second for that long, or a connection not made in that time.
    curl_easy_setopt(impl_->curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(impl_->curl, CURLOPT_LOW_SPEED_TIME, limit);
    curl_easy_setopt(impl_->curl, CURLOPT_CONNECTTIMEOUT, limit);
}

void HttpClient::trustOnlyForTests(const std::string& certificatesPem) {
    curl_blob blob{const_cast<char*>(certificatesPem.data()), certificatesPem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(impl_->curl, CURLOPT_CAINFO_BLOB, &blob);
    curl_easy_setopt(impl_->curl, CURLOPT_CAPATH, nullptr);
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
        curl_easy_setopt(impl_->curl, CURLOPT_URL, address.c_str());
        CURLcode rc = impl_->perform();
        // What it said is all that counts, and it may not be acted on: a redirect is not followed.
        if (impl_->droppedTooMuch) throw AppError(impl_->statusLine);
        if (impl_->tooManyHeaders)
            throw AppError("The response has more than " + std::to_string(kMaxHeaderLines) + " header lines");
        int code = statusCode(impl_->statusLine);
        // A redirect or error whose body breaks off still says what it had to say.
        bool bodyOfNoInterest = (rc == CURLE_PARTIAL_FILE || rc == CURLE_RECV_ERROR) && code >= 300;
        if (rc != CURLE_OK && !bodyOfNoInterest) impl_->raiseFor(rc);

        if (code >= 200 && code < 300) {
            // A head cut off before its blank line is no empty body.
            if (!impl_->bodyBegun) throw AppError(kClosedGracefully);
            return;
        }
        if (code >= 300 && code < 400 && code != 304 && !impl_->location.empty()) {
            // Ending quietly here would leave an empty target looking like a download.
            if (++redirects >= kRedirectLimit) throw AppError("Too many redirects");
            address = resolveLocation(address, impl_->location);
            continue;
        }
        throw AppError(impl_->statusLine);
    }
}

}  // namespace quill
