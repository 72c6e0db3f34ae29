#include "platform/profile.h"

#include "platform/codepage.h"
#include "platform/ini_text.h"

#include <algorithm>

namespace quill::platform {

namespace {

constexpr std::size_t kMaxValueUnits = 2047;

std::string decodeProfileText(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        return utf16ToUtf8(bytes.substr(2), false);
    }
    // A UTF-8 mark read as ANSI would spoil the first section header.
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        if (auto text = decodeUtf8(bytes.substr(3))) return *text;
        return ansiToUtf8(bytes.substr(3));
    }
    return ansiToUtf8(bytes);
}

// The value comes without the blanks around it.
std::string cleanValue(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return cutToProfileBuffer(value);
}

}  // namespace

// Cut to the buffer the profile API fills, never splitting a character.
std::string cutToProfileBuffer(std::string_view value) {
    std::size_t units = 0;
    std::size_t pos = 0;
    while (pos < value.size()) {
        const auto b = static_cast<unsigned char>(value[pos]);
        std::size_t length = 1;
        if (b >= 0xF0) length = 4;
        else if (b >= 0xE0) length = 3;
        else if (b >= 0xC0) length = 2;
        const std::size_t width = length == 4 ? 2 : 1;
        if (units + width > kMaxValueUnits) break;
        units += width;
        pos += length;
    }
    return std::string(value.substr(0, std::min(pos, value.size())));
}

std::string profileStringFromBytes(std::string_view fileBytes, const std::string& section,
                                   const std::string& key, const std::string& fallback) {
    const std::string text = decodeProfileText(fileBytes);
    for (const IniLine& line : iniSectionLines(text, section)) {
        // Only the first section of that name counts.
        if (line.sectionRun > 0) break;
        if (!sameTextIgnoringCase(line.name, trimIniBlanks(key))) continue;
        return line.hasValue ? cleanValue(line.value) : std::string();
    }
    return cutToProfileBuffer(fallback);
}

}  // namespace quill::platform
