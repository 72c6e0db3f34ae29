// The file version of a Windows program file, read from its version resource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quill::platform {

struct FileVersion {
    std::uint16_t major = 0;  // high word of dwFileVersionMS
    std::uint16_t minor = 0;  // low word
};

// No version for a missing, damaged or hostile file; never reads out of bounds.
std::optional<FileVersion> readFileVersion(const std::string& path);
std::optional<FileVersion> parseFileVersion(const unsigned char* data, std::size_t size);

}  // namespace quill::platform
