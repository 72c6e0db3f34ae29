#include "support/fake_screen.h"

#include <algorithm>

namespace quill::testing {

void FakeScreen::record(const std::string& event) {
    if (transferRunning) {
        duringTransfer.push_back({std::chrono::steady_clock::now(), event});
    } else {
        events.push_back(event);
    }
}

void FakeScreen::setStatus(const std::string& text) {
    status = text;
    record("status:" + text);
    if (onStatus) onStatus(text);
}
void FakeScreen::showError(const std::string& text) { record("error:" + text); }
void FakeScreen::showInformation(const std::string& text) { record("info:" + text); }
bool FakeScreen::confirm(const std::string& text) {
    record("confirm:" + text);
    return answerYes;
}
void FakeScreen::processMessages() {
    record("pump");
    if (onPump) onPump();
}
void FakeScreen::setBusyPointer(bool on) {
    busy = on;
    record(on ? "busy:1" : "busy:0");
}
void FakeScreen::showProgress() {
    progressAlive = true;
    ++progressWindows;
    record("progress:show");
}
void FakeScreen::setProgressLabel(const std::string& text) { record("progress:label:" + text); }
void FakeScreen::setProgressBarVisible(bool visible) { record(visible ? "progress:bar:1" : "progress:bar:0"); }
void FakeScreen::setProgressPosition(int percent) { record("progress:pos:" + std::to_string(percent)); }
void FakeScreen::freeProgress() {
    progressAlive = false;
    record("progress:free");
}
void FakeScreen::setInputBlocked(bool on) {
    blocked = on;
    record(on ? "block:1" : "block:0");
}
void FakeScreen::closeMainWindow() {
    closed = true;
    record("close");
}

void FakeScreen::beginTransfer(bool shown) {
    record(shown ? "transfer:shown" : "transfer:quiet");
    transferRunning = true;
}
void FakeScreen::showTransfer(std::int64_t received, std::int64_t total) {
    shown.push_back({received, total});
    record("shown:" + std::to_string(received) + "/" + std::to_string(total));
}
bool FakeScreen::transferCancelled() { return cancelAnswer; }
void FakeScreen::endTransfer() {
    transferRunning = false;
    record("transfer:end");
}

std::vector<std::string> FakeScreen::boxes() const {
    std::vector<std::string> out;
    for (const auto& e : events) {
        if (e.rfind("error:", 0) == 0 || e.rfind("info:", 0) == 0 || e.rfind("confirm:", 0) == 0) out.push_back(e);
    }
    return out;
}

int FakeScreen::count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

}  // namespace quill::testing
