// A Screen that records what the sequences show and answers confirmations.
#pragma once

#include "workspace/app/screen.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quill::testing {

class FakeScreen : public Screen {
public:
    // Every call in order, such as "status:Downloading Template List...",
    // "error:...", "info:...", "confirm:...", "pump", "busy:1", "progress:show",
    // "progress:label:...", "progress:bar:1", "progress:pos:50", "progress:free",
    // "block:1", "close", "transfer:shown" or "transfer:quiet", "transfer:end".
    // What comes while a transfer runs is as many as the clock makes it, and
    // goes to duringTransfer instead, so these stay the same from run to run.
    std::vector<std::string> events;

    struct Moment {
        std::chrono::steady_clock::time_point at;
        std::string event;  // "pump", "shown:<received>/<total>", "progress:pos:N", ...
    };
    std::vector<Moment> duringTransfer;
    struct Amounts {
        std::int64_t received;
        std::int64_t total;
    };
    std::vector<Amounts> shown;  // what each showTransfer() said, in order
    bool transferRunning = false;
    bool cancelAnswer = false;  // what transferCancelled() says

    bool answerYes = true;
    std::string status;
    bool busy = false;
    bool blocked = false;
    bool progressAlive = false;
    int progressWindows = 0;     // how many were shown in all
    bool closed = false;
    std::function<void()> onPump;  // runs at every processMessages()
    std::function<void(const std::string&)> onStatus;  // runs at every setStatus()
    bool endAsked = false;         // what endRequested() says

    void setStatus(const std::string& text) override;
    void showError(const std::string& text) override;
    void showInformation(const std::string& text) override;
    bool confirm(const std::string& text) override;
    void processMessages() override;
    // Waits for the download without recording anything, as a window's event loop would.
    void waitForEvents(std::chrono::milliseconds upTo) override { wait_.waitFor(upTo); }
    void wakeWaiting() override { wait_.wake(); }
    bool endRequested() const override { return endAsked; }
    void setBusyPointer(bool on) override;
    void showProgress() override;
    void setProgressLabel(const std::string& text) override;
    void setProgressBarVisible(bool visible) override;
    void setProgressPosition(int percent) override;
    void freeProgress() override;
    void setInputBlocked(bool on) override;
    void closeMainWindow() override;
    void beginTransfer(bool shown) override;
    void showTransfer(std::int64_t received, std::int64_t total) override;
    bool transferCancelled() override;
    void endTransfer() override;

    // The boxes only, as "error:..", "info:..", "confirm:..".
    std::vector<std::string> boxes() const;
    int count(const std::string& event) const;

private:
    void record(const std::string& event);
    WakeableWait wait_;
};

}  // namespace quill::testing
