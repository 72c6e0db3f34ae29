// INI text read the one way: which lines belong to a section, and what name
// and value each holds. The profile lookup and the connection's parameters
// both read their files through here.
#pragma once

#include <string_view>
#include <vector>

namespace quill::platform {

// One line of a section; the views point into the text that was read.
struct IniLine {
    std::string_view name;   // blanks around removed; the whole line when it has no "="
    std::string_view value;  // blanks around removed; empty when the line has no "="
    bool hasValue = false;   // the line holds "="
    int sectionRun = 0;      // 0 in the first section of that name, 1 in the next one...
};

// Without the blanks and tabs around it.
std::string_view trimIniBlanks(std::string_view s);

// The name of a name=value line: the text before its first "=", without the
// blanks and tabs around it. False when the line holds no "=". Every reader and
// writer of such lines names them through here, so that no line means one
// thing to the one and another to the other.
bool nameOfLine(std::string_view line, std::string_view& name);

// The lines of every section named `section` (without regard to case, blanks
// around either name ignored), in text order. Lines end at CR or LF; blank
// lines and lines that start with ";" are skipped; a header's name runs from
// "[" to the first "]".
std::vector<IniLine> iniSectionLines(std::string_view text, std::string_view section);

}  // namespace quill::platform
