// The application folder from the program file's path.
#pragma once

#include <string>

namespace quill {

// Cuts the path after its last delimiter ('\' or ':' for Windows paths, '/' for
// POSIX ones), drops a trailing separator that does not follow a delimiter,
// and ends the result in exactly one separator unless the folder itself ended in two.
std::string appDirFromModulePath(const std::string& modulePath, char separator);

// The application folder of the running program file at modulePath (native
// separators). Raises AppError with the reason when modulePath is not a full
// path (the system did not give it) or when the folder is the file-system root.
std::string applicationFolder(const std::string& modulePath);

}  // namespace quill
