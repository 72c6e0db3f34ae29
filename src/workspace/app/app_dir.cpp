#include "workspace/app/app_dir.h"

#include "platform/error.h"
#include "platform/files.h"

#include <filesystem>

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

std::string applicationFolder(const std::string& modulePath) {
    // Every folder the program makes, and every update, goes below this one:
    // a guess such as the current folder or the root is no answer.
    // Absolute as the system reads it: "C:\" or "\\server\share\" on Windows, "/" on Debian.
    if (modulePath.empty() || !std::filesystem::path(modulePath).is_absolute()) {
        throw AppError("The path of this program's file cannot be read, so its application folder is unknown. "
                       "The setup cannot be finished.");
    }
    const std::string dir = appDirFromModulePath(modulePath, platform::kSeparator);
    // The organizer is never installed in the root itself.
    const std::filesystem::path normal = std::filesystem::path(dir).lexically_normal();
    if (normal.relative_path().empty()) {
        throw AppError("This program's file lies in the root folder \"" + normal.root_path().string() +
                       "\", which is no application folder. The setup cannot be finished.");
    }
    return dir;
}

}  // namespace quill
