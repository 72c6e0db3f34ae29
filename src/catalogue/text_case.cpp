#include "catalogue/text_case.h"

namespace quill {

namespace {

char32_t lower(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xC0) return c;
    if (c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x100 && c <= 0x17F) {
        // Pairs alternate upper/lower, but the run shifts parity at U+0139..U+0148 and U+0179..U+017E.
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? c + 1 : c;
        if (c == 0x178) return 0xFF;
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
    if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string foldCase(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out += static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b);
            ++i;
            continue;
        }
        // Only two-byte sequences hold letters that fold here.
        if ((b & 0xE0) == 0xC0 && i + 1 < text.size() &&
            (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            const char32_t c = (static_cast<char32_t>(b & 0x1F) << 6) |
                               (static_cast<unsigned char>(text[i + 1]) & 0x3F);
            if (c >= 0x80) {
                appendUtf8(out, lower(c));
                i += 2;
                continue;
            }
        }
        out += static_cast<char>(b);
        ++i;
    }
    return out;
}

bool sameTextIgnoringCase(const std::string& a, const std::string& b) {
    return foldCase(a) == foldCase(b);
}

}  // namespace quill
