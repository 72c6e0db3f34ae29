// What the step sequences may do to the screen. The main window implements it;
// tests use a recording fake that also answers the boxes.
#pragma once

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

// Blocks the main window's input for the life of a long step.
class InputBlockScope {
public:
    explicit InputBlockScope(Screen& screen) : screen_(screen) { screen_.setInputBlocked(true); }
    ~InputBlockScope() { screen_.setInputBlocked(false); }
    InputBlockScope(const InputBlockScope&) = delete;
    InputBlockScope& operator=(const InputBlockScope&) = delete;

private:
    Screen& screen_;
};

}  // namespace quill
