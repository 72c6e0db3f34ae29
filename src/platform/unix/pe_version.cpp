#include "platform/pe_version.h"

#include "platform/files.h"

namespace quill::platform {

std::optional<FileVersion> readFileVersion(const std::string& path) {
    std::string bytes;
    if (!readWholeFile(path, bytes)) return std::nullopt;
    return parseFileVersion(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace quill::platform
