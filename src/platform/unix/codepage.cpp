#include "platform/codepage.h"

namespace quill::platform {

namespace {

// 0x80..0x9F of Windows-1252. The five holes map to the C1 control of the same
// value, as Windows does, so every byte survives a round trip.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

int ansiByteFor(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (int i = 0; i < 32; ++i) {
        if (kHigh1252[i] == c) return 0x80 + i;
    }
    return -1;
}

}  // namespace

unsigned ansiCodePage() { return 1252; }

std::string ansiToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        appendUtf8(out, b >= 0x80 && b < 0xA0 ? kHigh1252[b - 0x80] : b);
    }
    return out;
}

std::string utf8ToAnsi(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char32_t c : toCodePoints(text)) {
        const int b = ansiByteFor(c);
        out += b < 0 ? '?' : static_cast<char>(b);
    }
    return out;
}

}  // namespace quill::platform
