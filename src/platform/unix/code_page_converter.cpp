#include "platform/code_page_converter.h"

#include "platform/codepage.h"
#include "platform/error.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <map>
#include <mutex>
#include <string>

namespace quill::platform {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// iconv's name of a Windows code page; "" for one we do not know.
std::string iconvName(unsigned codePage) {
    if (codePage >= 28591 && codePage <= 28599) return "ISO-8859-" + std::to_string(codePage - 28590);
    switch (codePage) {
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 20932: return "EUC-JP";
    case 54936: return "GB18030";
    case 65001: return "UTF-8";
    case 437: case 737: case 775: case 850: case 852: case 855: case 857: case 858: case 860: case 861:
    case 862: case 863: case 864: case 865: case 866: case 869: case 874: case 932: case 936: case 949:
    case 950: case 1250: case 1251: case 1252: case 1253: case 1254: case 1255: case 1256: case 1257:
    case 1258:
        return "CP" + std::to_string(codePage);
    default:
        return {};
    }
}

iconv_t openConverter(const std::string& to, const std::string& from) {
    if (to.empty() || from.empty()) return kNoConverter;
    return iconv_open(to.c_str(), from.c_str());
}

// Windows gives each byte of 0x80..0x9F that its 125x code pages leave
// undefined the C1 control of the same value, and takes that back; iconv has no
// character for them, so they are looked up once per code page.
bool isUndefinedC1(unsigned codePage, unsigned char byte) {
    if (codePage < 1250 || codePage > 1258 || byte < 0x80 || byte > 0x9F) return false;
    static std::mutex lock;
    static std::map<unsigned, std::uint32_t> undefined;
    std::lock_guard guard(lock);
    auto found = undefined.find(codePage);
    if (found == undefined.end()) {
        std::uint32_t bits = 0;
        const iconv_t converter = openConverter("UTF-8", iconvName(codePage));
        for (unsigned b = 0x80; b <= 0x9F && converter != kNoConverter; ++b) {
            char in = static_cast<char>(b);
            char out[8];
            char* inAt = &in;
            char* outAt = out;
            std::size_t inLeft = 1, outLeft = sizeof out;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
            if (iconv(converter, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1)) {
                bits |= 1u << (b - 0x80);
            }
        }
        if (converter != kNoConverter) iconv_close(converter);
        found = undefined.emplace(codePage, bits).first;
    }
    return (found->second >> (byte - 0x80)) & 1u;
}

bool isAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Runs iconv over all of in; onBadInput decides what an unconvertible piece
// becomes and how many bytes of it to skip.
template <typename OnBad>
std::string convert(iconv_t converter, std::string_view in, OnBad&& onBadInput) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.resize(in.size() * 2 + 16);
    std::size_t used = 0;
    char* inAt = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    while (inLeft > 0) {
        char* outAt = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t rc = iconv(converter, &inAt, &inLeft, &outAt, &outLeft);
        used = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ, or EINVAL for a piece cut short at the end.
        out.resize(used);
        const std::size_t skip = onBadInput(std::string_view(inAt, inLeft), out);
        inAt += skip;
        inLeft -= skip;
        used = out.size();
        out.resize(used + inLeft * 2 + 16);
    }
    // Code pages with combining marks (1255, 1258) hold a letter back until
    // they know what follows it.
    for (;;) {
        char* outAt = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t rc = iconv(converter, nullptr, nullptr, &outAt, &outLeft);
        used = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1) || errno != E2BIG) break;
        out.resize(out.size() * 2);
    }
    out.resize(used);
    return out;
}

}  // namespace

bool codePageAvailable(unsigned codePage) {
    const iconv_t converter = openConverter("UTF-8", iconvName(codePage));
    if (converter == kNoConverter) return false;
    iconv_close(converter);
    return true;
}

CodePageConverter::CodePageConverter(unsigned codePage)
    : codePage_(codePage),
      toUtf8_(openConverter("UTF-8", iconvName(codePage))),
      fromUtf8_(openConverter(iconvName(codePage), "UTF-8")) {
    if (toUtf8_ == kNoConverter || fromUtf8_ == kNoConverter) {
        if (toUtf8_ != kNoConverter) iconv_close(static_cast<iconv_t>(toUtf8_));
        if (fromUtf8_ != kNoConverter) iconv_close(static_cast<iconv_t>(fromUtf8_));
        throw AppError("Code page " + std::to_string(codePage) + " is not available");
    }
}

CodePageConverter::~CodePageConverter() {
    iconv_close(static_cast<iconv_t>(toUtf8_));
    iconv_close(static_cast<iconv_t>(fromUtf8_));
}

std::string CodePageConverter::toUtf8(std::string_view bytes) const {
    // Every code page here keeps ASCII as it is, and most catalogue text is ASCII.
    if (isAscii(bytes)) return std::string(bytes);
    return convert(static_cast<iconv_t>(toUtf8_), bytes, [this](std::string_view rest, std::string& out) {
        const auto byte = static_cast<unsigned char>(rest[0]);
        appendUtf8(out, isUndefinedC1(codePage_, byte) ? byte : 0xFFFD);
        return std::size_t{1};
    });
}

std::string CodePageConverter::fromUtf8(std::string_view text, char substitute) const {
    if (isAscii(text)) return std::string(text);
    return convert(static_cast<iconv_t>(fromUtf8_), text, [this, substitute](std::string_view rest, std::string& out) {
        const std::size_t n = utf8CharacterLength(rest);
        // U+0080..U+009F are two bytes: 0xC2 and the control's own value.
        const auto control = n == 2 && rest[0] == '\xC2' ? static_cast<unsigned char>(rest[1]) : 0;
        out += isUndefinedC1(codePage_, control) ? static_cast<char>(control) : substitute;
        return n == 0 ? std::size_t{1} : n;
    });
}

}  // namespace quill::platform
