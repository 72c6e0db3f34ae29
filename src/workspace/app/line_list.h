// An ordered list of text lines that remembers the encoding of the file it was
// loaded from, read and set as name=value lines (templates.ini, temp.ini,
// upg_info.txt). Lines are UTF-8 in memory. The name=value rules are also
// offered for plain lists of lines, such as the catalogue connection's parameters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quill {

enum class TextEncoding { None, Ansi, Utf8, Utf16LE, Utf16BE };

class LineList {
public:
    // Raises "Cannot open file "<full path>". <system text>"; the list is then unchanged.
    void loadFromFile(const std::string& path);
    // Replaces the file as a whole (replaceFileWith). Raises "Cannot create file "<full path>". <system text>".
    void saveToFile(const std::string& path) const;

    int count() const { return static_cast<int>(lines_.size()); }
    const std::string& line(int index) const;          // raises "List index out of bounds (%d)"
    void setLine(int index, const std::string& text);  // same
    void append(const std::string& text) { lines_.push_back(text); }
    void clear() { lines_.clear(); }
    const std::vector<std::string>& lines() const { return lines_; }

    // As indexOfName, valueOfName and setNameValue below.
    int indexOfName(const std::string& name) const;
    std::string value(const std::string& name) const;
    void setValue(const std::string& name, const std::string& value);

    TextEncoding encoding() const { return encoding_; }

private:
    std::vector<std::string> lines_;
    TextEncoding encoding_ = TextEncoding::None;
};

// Decodes file bytes as loadFromFile does: the mark picks the encoding.
std::vector<std::string> decodeLines(const std::string& bytes, TextEncoding& encoding);

// Index of the first line whose name equals `name` without regard to case, names
// taken whole. A line's name is as the INI files are read (platform/ini_text.h):
// the text before its first "=", blanks and tabs around it removed; a line
// without "=" has none. -1 when none.
int indexOfName(const std::vector<std::string>& lines, std::string_view name);
// The text after the first "=" of that line; "" when there is none.
std::string valueOfName(const std::vector<std::string>& lines, std::string_view name);
// Replaces that line by name + "=" + value, or appends one; an empty value
// deletes the line instead, since empty and absent read alike.
void setNameValue(std::vector<std::string>& lines, const std::string& name, const std::string& value);

}  // namespace quill
