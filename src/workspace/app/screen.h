// What the step sequences may do to the screen. The main window implements it;
// tests use a recording fake that also answers the boxes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace quill {

class Screen {
public:
    virtual ~Screen() = default;

    virtual void setStatus(const std::string& text) = 0;

    // The three box kinds; all modal. confirm() is true only for Yes.
    virtual void showError(const std::string& text) = 0;
    virtual void showInformation(const std::string& text) = 0;
    virtual bool confirm(const std::string& text) = 0;

    // Lets queued window events (paints, clicks) run now.
    virtual void processMessages() = 0;
    // Lets window events run as they come for up to `upTo`, returning sooner
    // once wakeWaiting() is called: a download waits here for its bytes.
    virtual void waitForEvents(std::chrono::milliseconds upTo) = 0;
    // Safe from any thread.
    virtual void wakeWaiting() = 0;
    // True once the program has been asked to end (a termination signal seen
    // while events were pumped): a long step stops at its next safe point, and
    // boxes are no longer shown.
    virtual bool endRequested() const = 0;

    // Hourglass for every window of the application, or the normal pointer back.
    virtual void setBusyPointer(bool busy) = 0;

    // The progress window: at most one at a time, created hidden and shown
    // without waiting by showProgress(), changed while the step runs, freed last.
    virtual void showProgress() = 0;
    virtual void setProgressLabel(const std::string& text) = 0;
    virtual void setProgressBarVisible(bool visible) = 0;
    virtual void setProgressPosition(int percent) = 0;
    virtual void freeProgress() = 0;

    // While a long step runs the main window takes no input, so no second
    // step can start inside the first one when events are pumped.
    virtual void setInputBlocked(bool blocked) = 0;

    // Ends the main window's modal run once the current handler returns.
    virtual void closeMainWindow() = 0;

    // A download runs from beginTransfer() to endTransfer(), and the main window
    // takes no input meanwhile but a cancel. A shown transfer appears beside the
    // status text, with how much has arrived and a way to cancel it, from its
    // first showTransfer() on; a quiet one shows nothing.
    virtual void beginTransfer(bool shown) = 0;
    // received bytes so far; total -1 while the size is unknown.
    virtual void showTransfer(std::int64_t received, std::int64_t total) = 0;
    // True once the transfer is to stop: the user cancelled a shown one, or
    // the program is ending.
    virtual bool transferCancelled() = 0;
    virtual void endTransfer() = 0;
};

// A wait that another thread can end early, for a screen without an event
// loop of its own to wait in; a wake that comes before the wait still counts.
class WakeableWait {
public:
    void waitFor(std::chrono::milliseconds upTo) {
        std::unique_lock<std::mutex> hold(lock_);
        woken_.wait_for(hold, upTo, [&] { return wake_; });
        wake_ = false;
    }
    void wake() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            wake_ = true;
        }
        woken_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable woken_;
    bool wake_ = false;
};

// Frees the progress window whatever the guarded work does.
class ProgressWindowScope {
public:
    explicit ProgressWindowScope(Screen& screen) : screen_(screen) { screen_.showProgress(); }
    ~ProgressWindowScope() { screen_.freeProgress(); }
    ProgressWindowScope(const ProgressWindowScope&) = delete;
    ProgressWindowScope& operator=(const ProgressWindowScope&) = delete;

private:
    Screen& screen_;
};

// Turns one of the screen's switches on for the life of a step and off again
// however the step ends.
template <void (Screen::*turn)(bool)>
class SwitchedOnScope {
public:
    explicit SwitchedOnScope(Screen& screen) : screen_(screen) { (screen_.*turn)(true); }
    ~SwitchedOnScope() { (screen_.*turn)(false); }
    SwitchedOnScope(const SwitchedOnScope&) = delete;
    SwitchedOnScope& operator=(const SwitchedOnScope&) = delete;

private:
    Screen& screen_;
};

// No input to the main window while a long step runs.
using InputBlockScope = SwitchedOnScope<&Screen::setInputBlocked>;
// The hourglass while a step runs.
using BusyPointerScope = SwitchedOnScope<&Screen::setBusyPointer>;

}  // namespace quill
