#include "catalogue/connection_params.h"

#include "platform/error.h"
#include "platform/files.h"
#include "platform/ini_text.h"
#include "workspace/app/line_list.h"

namespace quill {

std::vector<std::string> readIniSection(const std::string& path, const std::string& section) {
    if (!platform::fileExists(path)) throw AppError("File " + path + " not found");
    LineList file;
    file.loadFromFile(path);
    std::string text;
    for (const auto& line : file.lines()) {
        text += line;
        text += '\n';
    }

    std::vector<std::string> values;
    for (const auto& line : platform::iniSectionLines(text, section)) {
        if (line.hasValue) values.push_back(std::string(line.name) + "=" + std::string(line.value));
    }
    return values;
}

}  // namespace quill
