// The general error display: what no handler catches ends in one system-style
// box captioned with the application title.
#pragma once

#include <functional>
#include <string>

namespace quill {

// The program file's name without folder, cut before its first ".", every
// character after the first in lower case: "/opt/x/Final_Inst.bin" gives "Final_inst".
std::string applicationTitle(const std::string& modulePath);

// The message with "." appended when its last character sorts after ".".
std::string errorDisplayText(const std::string& message);

// Runs a handler; an error that escapes it is shown in the general error box.
// Returns false when one did.
bool guarded(const std::function<void()>& handler);

}  // namespace quill
