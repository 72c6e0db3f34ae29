// The application folder from the program file's path.
#pragma once

#include <string>

namespace quill {

// Cuts the path after its last delimiter ('\' or ':' for Windows paths, '/' for
// POSIX ones), drops a trailing separator that does not follow a delimiter,
// and ends the result in exactly one separator unless the folder itself ended in two.
std::string appDirFromModulePath(const std::string& modulePath, char separator);

}  // namespace quill
