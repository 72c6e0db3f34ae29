#include "workspace/app_dir.h"

namespace quill {

std::string appDirFromModulePath(const std::string& modulePath, char separator) {
    // A colon only delimits on Windows, where it ends a drive name.
    const std::string delimiters = separator == '\\' ? std::string("\\:") : std::string(1, separator);
    const auto cut = modulePath.find_last_of(delimiters);
    std::string dir = cut == std::string::npos ? std::string() : modulePath.substr(0, cut + 1);
    const auto n = dir.size();
    if (n > 1 && dir[n - 1] == separator && delimiters.find(dir[n - 2]) == std::string::npos) {
        dir.pop_back();
    }
    if (dir.empty() || dir.back() != separator) dir += separator;
    return dir;
}

}  // namespace quill
