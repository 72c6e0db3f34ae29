#include "platform/letter_case.h"

#include "platform/codepage.h"
#include "platform/windows/wide.h"

namespace quill::platform {

namespace {

// The system's own mapping, from the invariant locale so that a Turkish user's
// "i" still becomes "I".
std::string upperRun(std::string_view run) {
    std::wstring wide = windows::toWide(run);
    const int size = static_cast<int>(wide.size());
    std::wstring upper(wide.size(), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), size, upper.data(), size, nullptr,
                      nullptr, 0) != size) {
        return std::string(run);
    }
    return windows::fromWide(upper);
}

}  // namespace

std::string upperCase(std::string_view text) {
    // Runs of UTF-8 go to the system; a byte that is not UTF-8 stays as it is.
    std::string out;
    out.reserve(text.size());
    std::size_t runStart = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t n = utf8CharacterLength(text.substr(pos));
        if (n > 0) {
            pos += n;
            continue;
        }
        out += upperRun(text.substr(runStart, pos - runStart));
        out += text[pos];
        runStart = ++pos;
    }
    out += upperRun(text.substr(runStart));
    return out;
}

}  // namespace quill::platform
