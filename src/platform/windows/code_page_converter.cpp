#include "platform/code_page_converter.h"

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/windows/wide.h"

#include <algorithm>
#include <string>

namespace quill::platform {

using windows::fromWide;

namespace {

bool isAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The characters of bytes, or false when one of them is no character of the code page.
bool toWideStrictly(unsigned codePage, std::string_view bytes, std::wstring& wide) {
    const int size = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (units <= 0) return false;
    wide.assign(static_cast<std::size_t>(units), L'\0');
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), units) == units;
}

// The code pages whose conversion takes no flags nor a default character.
bool takesNoFlags(unsigned codePage) {
    return codePage == CP_UTF8 || codePage == 54936 || (codePage >= 50220 && codePage <= 50229) ||
           codePage == 52936 || (codePage >= 57002 && codePage <= 57011) || codePage == 42;
}

}  // namespace

bool codePageAvailable(unsigned codePage) { return codePage != 0 && IsValidCodePage(codePage); }

CodePageConverter::CodePageConverter(unsigned codePage) : codePage_(codePage) {
    if (!codePageAvailable(codePage)) throw AppError("Code page " + std::to_string(codePage) + " is not available");
}

CodePageConverter::~CodePageConverter() = default;

std::string CodePageConverter::toUtf8(std::string_view bytes) const {
    if (isAscii(bytes)) return std::string(bytes);
    std::wstring wide;
    if (toWideStrictly(codePage_, bytes, wide)) return fromWide(wide);
    // The system would put its own default in; each piece that is no character
    // becomes U+FFFD instead, as the header promises.
    CPINFO info{};
    GetCPInfo(codePage_, &info);
    std::string out;
    for (std::size_t pos = 0; pos < bytes.size();) {
        std::size_t length = 1;
        if (info.MaxCharSize == 2 && IsDBCSLeadByteEx(codePage_, static_cast<BYTE>(bytes[pos])) &&
            pos + 1 < bytes.size()) {
            length = 2;
        } else if (info.MaxCharSize > 2) {
            // A multi-byte code page without lead bytes: the longest piece that converts.
            for (length = std::min<std::size_t>(info.MaxCharSize, bytes.size() - pos); length > 1; --length) {
                if (toWideStrictly(codePage_, bytes.substr(pos, length), wide)) break;
            }
        }
        if (toWideStrictly(codePage_, bytes.substr(pos, length), wide)) out += fromWide(wide);
        else appendUtf8(out, 0xFFFD);
        pos += length;
    }
    return out;
}

std::string CodePageConverter::fromUtf8(std::string_view text, char substitute) const {
    if (isAscii(text)) return std::string(text);
    const bool plain = takesNoFlags(codePage_);
    const char defaultChar[2] = {substitute, 0};
    auto convert = [&](std::string_view piece, std::string& out) {
        const std::wstring wide = windows::toWide(piece);
        const int units = static_cast<int>(wide.size());
        BOOL usedDefault = FALSE;
        const DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
        const int size = WideCharToMultiByte(codePage_, flags, wide.data(), units, nullptr, 0,
                                             plain ? nullptr : defaultChar, plain ? nullptr : &usedDefault);
        if (size <= 0) return false;
        std::string bytes(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(codePage_, flags, wide.data(), units, bytes.data(), size, plain ? nullptr : defaultChar,
                            plain ? nullptr : &usedDefault);
        if (usedDefault) return false;
        out += bytes;
        return true;
    };
    std::string out;
    if (decodeUtf8(text) && convert(text, out)) return out;
    // One substitute per character the code page lacks, whatever its length,
    // and one per byte that is not UTF-8.
    out.clear();
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t n = utf8CharacterLength(text.substr(pos));
        if (n == 0 || !convert(text.substr(pos, n), out)) out += substitute;
        pos += n == 0 ? 1 : n;
    }
    return out;
}

}  // namespace quill::platform
