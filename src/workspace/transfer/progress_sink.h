// A download as the user lives through it: the bytes go on to the step's own
// sink while the windows stay alive, a shown download says how far it is, and
// a download stops when the screen says it is cancelled.
#pragma once

#include "platform/error.h"
#include "workspace/transfer/byte_sink.h"
#include "workspace/app/screen.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quill {

// What a download raises when it stops because the screen says it is
// cancelled: an AppError like any failure, which a step that takes a stop as
// the user's answer rather than a failure can tell apart.
class DownloadCancelled : public AppError {
public:
    DownloadCancelled() : AppError("Download cancelled.") {}
};

class ProgressSink : public ByteSink {
public:
    enum class Display { Quiet, Shown };

    // Begins a transfer on the screen; the destructor ends it.
    ProgressSink(ByteSink& target, Screen& screen, Display display);
    ~ProgressSink() override;
    ProgressSink(const ProgressSink&) = delete;
    ProgressSink& operator=(const ProgressSink&) = delete;

    // Told at each pulse of a shown download too (received, total or -1).
    std::function<void(std::int64_t, std::int64_t)> onProgress;

    void begin(std::int64_t total) override;
    void write(const char* data, std::size_t size) override;
    // Shows the progress of a shown download, lets queued events run, and
    // raises DownloadCancelled once the screen says it is cancelled.
    void pulse() override;
    // Window events run while the download waits, and a cancel among them
    // ends it at once.
    bool awaitEvents(std::chrono::milliseconds upTo) override;
    void wakeEvents() override;

private:
    void stopIfCancelled();

    ByteSink& target_;
    Screen& screen_;
    const bool shown_;
    std::int64_t received_ = 0;
    std::int64_t total_ = -1;
};

class HttpClient;

// A small body (version.txt, a signature) fetched into memory as a shown
// download: a host that trickles it shows it, and the user can stop waiting.
// Raises as the fetch does, and for more than limit bytes.
std::string fetchShown(Screen& screen, HttpClient& http, const std::string& url, std::size_t limit);

}  // namespace quill
