#include "workspace/transfer/progress_sink.h"

#include "platform/error.h"
#include "workspace/transfer/http_client.h"

namespace quill {

std::string fetchShown(Screen& screen, HttpClient& http, const std::string& url, std::size_t limit) {
    MemorySink bytes(limit);
    {
        ProgressSink sink(bytes, screen, ProgressSink::Display::Shown);
        http.fetch(url, sink);
    }
    return std::move(bytes.bytes);
}

ProgressSink::ProgressSink(ByteSink& target, Screen& screen, Display display)
    : target_(target), screen_(screen), shown_(display == Display::Shown) {
    screen_.beginTransfer(shown_);
}

ProgressSink::~ProgressSink() { screen_.endTransfer(); }

void ProgressSink::begin(std::int64_t total) {
    total_ = total;
    target_.begin(total);
}

void ProgressSink::write(const char* data, std::size_t size) {
    target_.write(data, size);
    received_ += static_cast<std::int64_t>(size);
}

void ProgressSink::pulse() {
    target_.pulse();
    if (shown_) {
        screen_.showTransfer(received_, total_);
        if (onProgress) onProgress(received_, total_);
    }
    // The click on Cancel arrives with these events.
    screen_.processMessages();
    stopIfCancelled();
}

bool ProgressSink::awaitEvents(std::chrono::milliseconds upTo) {
    screen_.waitForEvents(upTo);
    stopIfCancelled();
    return true;
}

void ProgressSink::wakeEvents() { screen_.wakeWaiting(); }

void ProgressSink::stopIfCancelled() {
    if (screen_.transferCancelled()) throw DownloadCancelled();
}

}  // namespace quill
