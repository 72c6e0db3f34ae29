// The three ways a step treats a failure, spelled out at the call site:
// ignoringErrors, reportingErrors (our text, or the error's own), or nothing at
// all, which leaves the error to the shell's general error display.
#pragma once

#include "platform/error.h"
#include "workspace/app/screen.h"

#include <exception>
#include <string>

namespace quill {

// Runs work; any error it raises is swallowed. Returns false when one was.
template <typename Work>
bool ignoringErrors(Work&& work) {
    try {
        work();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Runs work; an error shows an error box with `text`. Returns false when one did.
template <typename Work>
bool reportingErrors(Screen& screen, const std::string& text, Work&& work) {
    try {
        work();
        return true;
    } catch (const std::exception&) {
        screen.showError(text);
        return false;
    }
}

// Runs work; an error shows an error box with the error's own message.
template <typename Work>
bool reportingOwnErrors(Screen& screen, Work&& work) {
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        screen.showError(e.what());
        return false;
    }
}

}  // namespace quill
