#include "platform/letter_case.h"

#include "platform/codepage.h"

#include <locale.h>
#include <wctype.h>

namespace quill::platform {

namespace {

// C.UTF-8 is built into the C library and carries the whole Unicode case table,
// whatever the user's locale is.
locale_t unicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

std::string upperCase(std::string_view text) {
    const locale_t locale = unicodeLocale();
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        if (lead < 0x80) {
            out += lead >= 'a' && lead <= 'z' ? static_cast<char>(lead - 'a' + 'A') : text[pos];
            ++pos;
            continue;
        }
        const std::size_t n = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
        const std::string_view piece = text.substr(pos, n);
        const auto decoded = piece.size() == n && n > 1 ? decodeUtf8(piece) : std::nullopt;
        if (!decoded || !locale) {
            out += text[pos];
            ++pos;
            continue;
        }
        char32_t c = lead & (0x7F >> n);
        for (std::size_t i = 1; i < n; ++i) c = (c << 6) | (static_cast<unsigned char>(piece[i]) & 0x3F);
        appendUtf8(out, static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale)));
        pos += n;
    }
    return out;
}

}  // namespace quill::platform
