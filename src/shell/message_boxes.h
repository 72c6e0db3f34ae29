// The program's message boxes behind one small interface, so window tests can
// answer and record them. Every box is modal and centred on the screen.
#pragma once

#include <string>

class QWidget;

namespace quill {

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void error(const std::string& text) = 0;        // "Error", error icon, "OK"
    virtual void information(const std::string& text) = 0;  // "Information", information icon, "OK"
    virtual bool confirm(const std::string& text) = 0;      // "Confirm", question icon, "&Yes"/"&No"; true only for Yes
    // The general error display for errors no handler catches.
    virtual void systemError(const std::string& caption, const std::string& text) = 0;
};

class QtMessageBoxes : public MessageBoxes {
public:
    void error(const std::string& text) override;
    void information(const std::string& text) override;
    bool confirm(const std::string& text) override;
    void systemError(const std::string& caption, const std::string& text) override;
};

// The boxes the program shows, shared by every window.
MessageBoxes& messageBoxes();
// Lets the window tests put a recording implementation in place (nullptr restores).
void setMessageBoxes(MessageBoxes* boxes);

}  // namespace quill
