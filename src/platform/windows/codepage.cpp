#include "platform/codepage.h"

#include "platform/windows/wide.h"

namespace quill::platform {

using windows::fromWide;

unsigned ansiCodePage() { return GetACP(); }

std::string ansiToUtf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), units);
    return fromWide(wide);
}

std::string utf8ToAnsi(std::string_view text) {
    // One "?" per character the code page lacks: never a look-alike, and a
    // surrogate pair or a lone one is one character.
    std::string out;
    out.reserve(text.size());
    for (const char32_t c : toCodePoints(text)) {
        wchar_t units[2];
        int count = 1;
        if (c >= 0x10000) {
            units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            count = 2;
        } else {
            units[0] = static_cast<wchar_t>(c);
        }
        char bytes[8];
        BOOL usedDefault = FALSE;
        const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, count, bytes, sizeof bytes, "?",
                                          &usedDefault);
        if (n <= 0 || usedDefault || (c >= 0xD800 && c <= 0xDFFF)) out += '?';
        else out.append(bytes, static_cast<std::size_t>(n));
    }
    return out;
}

}  // namespace quill::platform
