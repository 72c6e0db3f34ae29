// What a path or an open file is, as the callers above platform ask it: its
// kind, size, permission bits, identity and last change. On Windows the bits
// stand for the read-only attribute (0444 or 0666, folders 0555 or 0777).
// Each returns a success flag; on failure lastError() gives the errno value.
#pragma once

#include <cstdint>
#include <string>

namespace quill::platform {

enum class FileKind { file, folder, link, other };

struct FileStatus {
    FileKind kind = FileKind::other;
    std::uint64_t size = 0;
    unsigned mode = 0;            // the permission bits, as chmod sets them
    std::uint64_t device = 0;     // the file system that holds it
    std::uint64_t identity = 0;   // the file itself on that file system, whatever names it
    std::int64_t modified = 0;    // last change of its content, in nanoseconds of the system's own epoch
};

bool statusOf(const std::string& path, FileStatus& status);      // through a link to what it names
bool linkStatusOf(const std::string& path, FileStatus& status);  // a link itself, never what it names
bool openFileStatus(int fd, FileStatus& status);

// The same file, whatever names led to either.
inline bool sameFile(const FileStatus& a, const FileStatus& b) {
    return a.device == b.device && a.identity == b.identity;
}

}  // namespace quill::platform
