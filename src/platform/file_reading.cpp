#include "platform/file_reading.h"

namespace quill::platform {

bool readWholeRange(int fd, std::uint64_t offset, void* out, std::size_t size) {
    auto* at = static_cast<unsigned char*>(out);
    while (size > 0) {
        const std::int64_t n = readFileAt(fd, offset, at, size);
        if (n <= 0) return false;
        at += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace quill::platform
