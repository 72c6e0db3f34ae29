// The transport on Debian: libcurl, one easy handle kept for the client's life
// (its connection and its cookies), driven by a multi handle so that an
// interrupt wakes it at once.
#include "workspace/transfer/http_transport.h"

#include "workspace/transfer/unix/socket_errno.h"

#include <atomic>
#include <curl/curl.h>
#include <new>

namespace quill {

namespace {

constexpr long kReceiveBuffer = 512 * 1024;

// libcurl wants one global set-up per process before the first handle.
void initialiseCurlOnce() {
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

class CurlTransport final : public HttpTransport {
public:
    CurlTransport() {
        initialiseCurlOnce();
        curl_ = curl_easy_init();
        multi_ = curl_multi_init();
        if (!curl_ || !multi_) {
            release();
            throw std::bad_alloc();
        }
        for (const char* header : {"Accept: text/html, */*,*.zip", "Accept-Encoding: identity",
                                   "User-Agent: Mozilla/4.0 (compatible; Indy Library)"}) {
            curl_slist* grown = curl_slist_append(headers_, header);
            if (!grown) {
                release();
                throw std::bad_alloc();
            }
            headers_ = grown;
        }
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(curl_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
        // Certificate and host name are checked against the system's store (libcurl's defaults, stated here).
        curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(curl_, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(curl_, CURLOPT_PROXY, "");
        curl_easy_setopt(curl_, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, "");  // cookies in memory, for this client's life
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_BUFFERSIZE, kReceiveBuffer);
        curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorBuffer_);
        curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &CurlTransport::onHeader);
        curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CurlTransport::onBody);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    }

    ~CurlTransport() override { release(); }

    TransportEnding exchange(const std::string& url, Receiver& receiver) override {
        receiver_ = &receiver;
        errorBuffer_[0] = '\0';
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        if (CURLMcode rc = curl_multi_add_handle(multi_, curl_); rc != CURLM_OK) return multiFailure(rc);
        const CURLcode rc = transferUntilDone();
        curl_multi_remove_handle(multi_, curl_);
        return endingFor(rc);
    }

    void interrupt() override {
        interrupted_ = true;
        curl_multi_wakeup(multi_);
    }

    void clearInterrupt() override { interrupted_ = false; }

    void setStallTimeout(int seconds) override {
        // Less than a byte a second for that long, or a connection not made in that time.
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(seconds));
        curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(seconds));
    }

    void trustOnlyForTests(const std::string& certificatesPem) override {
        curl_blob blob{const_cast<char*>(certificatesPem.data()), certificatesPem.size(), CURL_BLOB_COPY};
        curl_easy_setopt(curl_, CURLOPT_CAINFO_BLOB, &blob);
        curl_easy_setopt(curl_, CURLOPT_CAPATH, nullptr);
    }

    std::string resolve(const std::string& base, const std::string& location) override {
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

private:
    void release() {
        if (multi_) curl_multi_cleanup(multi_);
        if (curl_) curl_easy_cleanup(curl_);
        curl_slist_free_all(headers_);
        multi_ = nullptr;
        curl_ = nullptr;
        headers_ = nullptr;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        const std::size_t length = size * count;
        return static_cast<CurlTransport*>(self)->receiver_->headerLine(data, length) ? length : 0;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        const std::size_t length = size * count;
        return static_cast<CurlTransport*>(self)->receiver_->body(data, length) ? length : CURL_WRITEFUNC_ERROR;
    }

    CURLcode transferUntilDone() {
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi_, &running) != CURLM_OK) return CURLE_FAILED_INIT;
            if (running == 0) {
                CURLcode result = CURLE_FAILED_INIT;
                int queued = 0;
                while (CURLMsg* message = curl_multi_info_read(multi_, &queued))
                    if (message->msg == CURLMSG_DONE && message->easy_handle == curl_) result = message->data.result;
                return result;
            }
            if (interrupted_) return CURLE_ABORTED_BY_CALLBACK;
            // An interrupt wakes this wait at once.
            if (curl_multi_poll(multi_, nullptr, 0, 1000, nullptr) != CURLM_OK) return CURLE_FAILED_INIT;
        }
    }

    static TransportEnding multiFailure(CURLMcode rc) {
        TransportEnding ending;
        if (rc == CURLM_OUT_OF_MEMORY) {
            ending.kind = TransportEnding::Kind::OutOfMemory;
        } else {
            ending.kind = TransportEnding::Kind::Failed;
            ending.text = curl_multi_strerror(rc);
        }
        return ending;
    }

    TransportEnding endingFor(CURLcode rc) {
        using Kind = TransportEnding::Kind;
        TransportEnding ending;
        if (rc == CURLE_OK) return ending;
        long osError = 0;
        curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &osError);
        const int wsa = wsaCodeForErrno(static_cast<int>(osError));
        ending.whileReading = rc == CURLE_PARTIAL_FILE || rc == CURLE_RECV_ERROR;
        switch (rc) {
        case CURLE_COULDNT_RESOLVE_HOST:
            ending.kind = Kind::SocketError;
            ending.code = 11001;
            return ending;
        case CURLE_COULDNT_CONNECT:
            ending.kind = Kind::SocketError;
            ending.code = wsa ? wsa : 10061;
            return ending;
        case CURLE_OPERATION_TIMEDOUT:
            ending.kind = Kind::SocketError;
            ending.code = 10060;
            return ending;
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            ending.kind = Kind::Closed;
            return ending;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            // No error of the system's: the peer closed; a reset when not even a status line came.
            ending.kind = osError == 0 ? Kind::Closed : Kind::SocketError;
            ending.code = osError == 0 ? 10054 : (wsa ? wsa : 10054);
            return ending;
        case CURLE_OUT_OF_MEMORY:
            ending.kind = Kind::OutOfMemory;
            return ending;
        case CURLE_ABORTED_BY_CALLBACK:
            if (interrupted_) {
                ending.kind = Kind::Stopped;
                return ending;
            }
            break;
        default:
            break;
        }
        ending.kind = Kind::Failed;
        ending.text = errorBuffer_[0] ? std::string(errorBuffer_) : std::string(curl_easy_strerror(rc));
        return ending;
    }

    CURL* curl_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headers_ = nullptr;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    Receiver* receiver_ = nullptr;
    std::atomic<bool> interrupted_{false};
};

}  // namespace

std::unique_ptr<HttpTransport> makeHttpTransport() { return std::make_unique<CurlTransport>(); }

}  // namespace quill
