#include "platform/ini_text.h"

#include "platform/codepage.h"

namespace quill::platform {

std::string_view trimIniBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

bool nameOfLine(std::string_view line, std::string_view& name) {
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    name = trimIniBlanks(line.substr(0, eq));
    return true;
}

std::vector<IniLine> iniSectionLines(std::string_view text, std::string_view section) {
    const std::string_view wanted = trimIniBlanks(section);
    std::vector<IniLine> lines;
    int run = -1;
    bool inSection = false;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const auto end = text.find_first_of("\r\n", pos);
        const std::string_view rawLine = text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
        pos = end == std::string_view::npos ? text.size() + 1 : end + 1;
        const std::string_view line = trimIniBlanks(rawLine);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            const std::string_view name = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
            inSection = sameTextIgnoringCase(trimIniBlanks(name), wanted);
            if (inSection) ++run;
            continue;
        }
        if (!inSection) continue;
        IniLine entry;
        entry.hasValue = nameOfLine(line, entry.name);
        if (entry.hasValue) entry.value = trimIniBlanks(line.substr(line.find('=') + 1));
        else entry.name = line;
        entry.sectionRun = run;
        lines.push_back(entry);
    }
    return lines;
}

}  // namespace quill::platform
