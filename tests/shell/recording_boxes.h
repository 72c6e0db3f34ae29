// Message boxes that answer at once and remember what they were asked to show.
#pragma once

#include "shell/message_boxes.h"

#include <string>
#include <vector>

namespace quill::testing {

class RecordingBoxes : public MessageBoxes {
public:
    std::vector<std::string> shown;
    bool answerYes = false;

    void error(const std::string& text) override { shown.push_back("error:" + text); }
    void information(const std::string& text) override { shown.push_back("info:" + text); }
    bool confirm(const std::string& text) override {
        shown.push_back("confirm:" + text);
        return answerYes;
    }
    void systemError(const std::string& caption, const std::string& text) override {
        shown.push_back("system:" + caption + ":" + text);
    }
};

// Puts the recording boxes in place for one test.
class BoxesScope {
public:
    explicit BoxesScope(MessageBoxes& boxes) { setMessageBoxes(&boxes); }
    ~BoxesScope() { setMessageBoxes(nullptr); }
};

}  // namespace quill::testing
