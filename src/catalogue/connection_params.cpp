#include "catalogue/connection_params.h"

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"
#include "workspace/line_list.h"

namespace quill {

namespace {

std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    const auto end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

std::vector<std::string> readIniSection(const std::string& path, const std::string& section) {
    if (!platform::fileExists(path)) throw AppError("File " + path + " not found");
    LineList file;
    file.loadFromFile(path);

    std::vector<std::string> values;
    bool inSection = false;
    for (const auto& raw : file.lines()) {
        const std::string line = trimmed(raw);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const auto close = line.find(']');
            const std::string name = trimmed(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inSection = platform::sameTextIgnoringCase(name, section);
            continue;
        }
        if (!inSection) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        values.push_back(trimmed(line.substr(0, eq)) + "=" + trimmed(line.substr(eq + 1)));
    }
    return values;
}

}  // namespace quill
