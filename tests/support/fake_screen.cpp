#include "support/fake_screen.h"

#include <algorithm>

namespace quill::testing {

void FakeScreen::setStatus(const std::string& text) {
    status = text;
    events.push_back("status:" + text);
}
void FakeScreen::showError(const std::string& text) { events.push_back("error:" + text); }
void FakeScreen::showInformation(const std::string& text) { events.push_back("info:" + text); }
bool FakeScreen::confirm(const std::string& text) {
    events.push_back("confirm:" + text);
    return answerYes;
}
void FakeScreen::processMessages() {
    events.push_back("pump");
    if (onPump) onPump();
}
void FakeScreen::setBusyPointer(bool on) {
    busy = on;
    events.push_back(on ? "busy:1" : "busy:0");
}
void FakeScreen::showProgress() {
    progressAlive = true;
    ++progressWindows;
    events.push_back("progress:show");
}
void FakeScreen::setProgressLabel(const std::string& text) { events.push_back("progress:label:" + text); }
void FakeScreen::setProgressBarVisible(bool visible) { events.push_back(visible ? "progress:bar:1" : "progress:bar:0"); }
void FakeScreen::setProgressPosition(int percent) { events.push_back("progress:pos:" + std::to_string(percent)); }
void FakeScreen::freeProgress() {
    progressAlive = false;
    events.push_back("progress:free");
}
void FakeScreen::setInputBlocked(bool on) {
    blocked = on;
    events.push_back(on ? "block:1" : "block:0");
}
void FakeScreen::closeMainWindow() {
    closed = true;
    events.push_back("close");
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
