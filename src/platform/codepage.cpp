#include "platform/codepage.h"

#include <cstdint>

namespace quill::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void encodeUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads one code point at pos; false on an invalid or truncated sequence
// (overlong forms and values past U+10FFFF are invalid, and so are surrogates
// unless our own texts are read, which carry lone ones in their 3-byte form).
bool nextCodePoint(std::string_view s, std::size_t& pos, char32_t& c, bool surrogatesAllowed = false) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        c = b0;
        ++pos;
        return true;
    }
    int extra;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        c = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        c = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        c = b0 & 0x07;
        min = 0x10000;
    } else {
        return false;
    }
    if (s.size() - pos <= static_cast<std::size_t>(extra)) return false;
    for (int i = 1; i <= extra; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) return false;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (!surrogatesAllowed && isSurrogate(c))) return false;
    pos += static_cast<std::size_t>(extra) + 1;
    return true;
}

// Lenient reading of our own texts: a lone surrogate is one code point, a bad
// byte is one U+FFFD.
template <typename Each>
void forEachCodePoint(std::string_view s, Each&& each) {
    std::size_t pos = 0;
    while (pos < s.size()) {
        char32_t c;
        if (!nextCodePoint(s, pos, c, true)) {
            c = kReplacement;
            ++pos;
        }
        each(c);
    }
}

void appendUnit(std::string& out, char16_t unit, bool bigEndian) {
    const char hi = static_cast<char>(unit >> 8);
    const char lo = static_cast<char>(unit & 0xFF);
    if (bigEndian) {
        out += hi;
        out += lo;
    } else {
        out += lo;
        out += hi;
    }
}

char32_t foldCase(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0x80) return c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    if (c == 0x178) return 0xFF;
    // Latin Extended-A pairs capitals and small letters as even/odd, except in
    // 0x139..0x148 and 0x179..0x17E where the capital is odd.
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddCapitals) return (c % 2 == 1) ? c + 1 : c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

}  // namespace

std::optional<std::string> decodeUtf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t c;
        if (!nextCodePoint(bytes, pos, c)) return std::nullopt;
    }
    return std::string(bytes);
}

std::size_t utf8CharacterLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t n = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                         : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || n > text.size()) return 0;
    return decodeUtf8(text.substr(0, n)) ? n : 0;
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;  // an odd last byte is no character
    auto unitAt = [&](std::size_t i) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = unitAt(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char16_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                encodeUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        // A lone surrogate is kept in its 3-byte form, so saving gives back the same unit.
        encodeUtf8(out, u);
    }
    return out;
}

std::string utf8ToUtf16(std::string_view text, bool bigEndian) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char16_t unit : toUtf16(text)) appendUnit(out, unit, bigEndian);
    return out;
}

std::string utf8ForFile(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        char32_t c;
        if (!nextCodePoint(text, pos, c, true)) {
            // Any other byte goes out as it is, as it always did.
            out += text[start];
            pos = start + 1;
        } else if (isSurrogate(c)) {
            encodeUtf8(out, kReplacement);
        } else {
            out.append(text, start, pos - start);
        }
    }
    return out;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    forEachCodePoint(text, [&](char32_t c) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    });
    return out;
}

void appendUtf8(std::string& out, char32_t c) { encodeUtf8(out, c); }

std::u32string toCodePoints(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    forEachCodePoint(text, [&](char32_t c) { out += c; });
    return out;
}

std::string foldCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t c;
        const std::size_t start = pos;
        if (nextCodePoint(text, pos, c)) {
            encodeUtf8(out, foldCase(c));
        } else {
            out += text[start];
            pos = start + 1;
        }
    }
    return out;
}

bool sameTextIgnoringCase(std::string_view a, std::string_view b) {
    // A byte that is not UTF-8 only matches the same byte.
    std::size_t pa = 0, pb = 0;
    while (pa < a.size() && pb < b.size()) {
        char32_t ca, cb;
        if (!nextCodePoint(a, pa, ca)) {
            ca = 0x110000 + static_cast<unsigned char>(a[pa]);
            ++pa;
        }
        if (!nextCodePoint(b, pb, cb)) {
            cb = 0x110000 + static_cast<unsigned char>(b[pb]);
            ++pb;
        }
        if (ca != cb && foldCase(ca) != foldCase(cb)) return false;
    }
    return pa == a.size() && pb == b.size();
}

}  // namespace quill::platform
