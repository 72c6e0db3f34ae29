#include "platform/profile.h"

#include "platform/files.h"

namespace quill::platform {

// Read here as the profile API reads it, with the same rules for the bytes.
std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& fallback, const std::string& path) {
    std::string bytes;
    if (!readWholeFile(path, bytes)) return cutToProfileBuffer(fallback);
    return profileStringFromBytes(bytes, section, key, fallback);
}

}  // namespace quill::platform
