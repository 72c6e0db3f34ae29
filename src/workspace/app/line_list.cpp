#include "workspace/app/line_list.h"

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/ini_text.h"
#include "workspace/change/file_ops.h"

namespace quill {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEMark = "\xFF\xFE";
constexpr std::string_view kUtf16BEMark = "\xFE\xFF";

bool startsWith(std::string_view bytes, std::string_view mark) {
    return bytes.size() >= mark.size() && bytes.substr(0, mark.size()) == mark;
}

std::vector<std::string> splitLines(std::string_view text) {
    // Nothing after a NUL belongs to the text.
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(pos));
            break;
        }
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
    return lines;
}

[[noreturn]] void outOfBounds(int index) {
    throw AppError("List index out of bounds (" + std::to_string(index) + ")");
}

std::string encodeLines(const std::vector<std::string>& lines, TextEncoding encoding) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    switch (encoding) {
        case TextEncoding::Utf8: return std::string(kUtf8Mark) + platform::utf8ForFile(text);
        case TextEncoding::Utf16LE: return std::string(kUtf16LEMark) + platform::utf8ToUtf16(text, false);
        case TextEncoding::Utf16BE: return std::string(kUtf16BEMark) + platform::utf8ToUtf16(text, true);
        case TextEncoding::None:
        case TextEncoding::Ansi: break;
    }
    return platform::utf8ToAnsi(text);
}

}  // namespace

std::vector<std::string> decodeLines(const std::string& bytes, TextEncoding& encoding) {
    const std::string_view all(bytes);
    if (startsWith(all, kUtf8Mark)) {
        encoding = TextEncoding::Utf8;
        const auto text = platform::decodeUtf8(all.substr(kUtf8Mark.size()));
        return text ? splitLines(*text) : std::vector<std::string>{};
    }
    if (startsWith(all, kUtf16LEMark)) {
        encoding = TextEncoding::Utf16LE;
        return splitLines(platform::utf16ToUtf8(all.substr(2), false));
    }
    if (startsWith(all, kUtf16BEMark)) {
        encoding = TextEncoding::Utf16BE;
        return splitLines(platform::utf16ToUtf8(all.substr(2), true));
    }
    encoding = TextEncoding::Ansi;
    return splitLines(platform::ansiToUtf8(all));
}

void LineList::loadFromFile(const std::string& path) {
    std::string bytes;
    if (!platform::readWholeFile(path, bytes, true)) throw AppError(cannotOpenFileText(path, platform::lastError()));
    TextEncoding encoding = TextEncoding::None;
    lines_ = decodeLines(bytes, encoding);
    encoding_ = encoding;
}

void LineList::saveToFile(const std::string& path) const {
    replaceFileWith(encodeLines(lines_, encoding_), path);
}

const std::string& LineList::line(int index) const {
    if (index < 0 || index >= count()) outOfBounds(index);
    return lines_[static_cast<std::size_t>(index)];
}

void LineList::setLine(int index, const std::string& text) {
    if (index < 0 || index >= count()) outOfBounds(index);
    lines_[static_cast<std::size_t>(index)] = text;
}

int LineList::indexOfName(const std::string& name) const { return quill::indexOfName(lines_, name); }

std::string LineList::value(const std::string& name) const { return valueOfName(lines_, name); }

void LineList::setValue(const std::string& name, const std::string& value) { setNameValue(lines_, name, value); }

int indexOfName(const std::vector<std::string>& lines, std::string_view name) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view lineName;
        if (!platform::nameOfLine(lines[i], lineName)) continue;
        if (platform::sameTextIgnoringCase(lineName, name)) return static_cast<int>(i);
    }
    return -1;
}

std::string valueOfName(const std::vector<std::string>& lines, std::string_view name) {
    const int index = indexOfName(lines, name);
    if (index < 0) return {};
    const std::string& text = lines[static_cast<std::size_t>(index)];
    return text.substr(text.find('=') + 1);
}

void setNameValue(std::vector<std::string>& lines, const std::string& name, const std::string& value) {
    const int index = indexOfName(lines, name);
    if (value.empty()) {
        if (index >= 0) lines.erase(lines.begin() + index);
        return;
    }
    if (index >= 0) lines[static_cast<std::size_t>(index)] = name + "=" + value;
    else lines.push_back(name + "=" + value);
}

}  // namespace quill
