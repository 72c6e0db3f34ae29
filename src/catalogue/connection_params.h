// Loading the catalogue connection's parameters from an INI file's section.
#pragma once

#include <string>
#include <vector>

namespace quill {

// The name=value lines of the section `section` (found without regard to case)
// of the INI file, in file order; blank and ";" comment lines skipped, blanks
// around names and values removed. A missing section gives none. Raises when
// the file is missing or cannot be read.
std::vector<std::string> readIniSection(const std::string& path, const std::string& section);

}  // namespace quill
