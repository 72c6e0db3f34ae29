#include "platform/profile.h"

#include "platform/files.h"
#include "platform/windows/wide.h"

#include <vector>

namespace quill::platform {

std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& fallback, const std::string& path) {
    // A name without a folder would be looked for in the Windows folder.
    const std::wstring file = windows::toWide(fullPath(path));
    const std::wstring wideFallback = windows::toWide(fallback);
    std::vector<wchar_t> buffer(2048);
    const DWORD n = GetPrivateProfileStringW(windows::toWide(section).c_str(), windows::toWide(key).c_str(),
                                             wideFallback.c_str(), buffer.data(),
                                             static_cast<DWORD>(buffer.size()), file.c_str());
    return cutToProfileBuffer(windows::fromWide(std::wstring_view(buffer.data(), n)));
}

}  // namespace quill::platform
