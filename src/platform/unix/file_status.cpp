#include "platform/file_status.h"

#include "platform/last_error.h"

#include <cerrno>
#include <sys/stat.h>

namespace quill::platform {

namespace {

bool convert(int result, const struct stat& st, FileStatus& status) {
    if (result != 0) return detail::fail(errno);
    status.kind = S_ISREG(st.st_mode)   ? FileKind::file
                  : S_ISDIR(st.st_mode) ? FileKind::folder
                  : S_ISLNK(st.st_mode) ? FileKind::link
                                        : FileKind::other;
    status.size = static_cast<std::uint64_t>(st.st_size);
    status.mode = static_cast<unsigned>(st.st_mode & 07777);
    status.device = static_cast<std::uint64_t>(st.st_dev);
    status.identity = static_cast<std::uint64_t>(st.st_ino);
    status.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return detail::succeed();
}

}  // namespace

bool statusOf(const std::string& path, FileStatus& status) {
    struct stat st {};
    const int result = ::stat(path.c_str(), &st);
    return convert(result, st, status);
}

bool linkStatusOf(const std::string& path, FileStatus& status) {
    struct stat st {};
    const int result = ::lstat(path.c_str(), &st);
    return convert(result, st, status);
}

bool openFileStatus(int fd, FileStatus& status) {
    struct stat st {};
    const int result = ::fstat(fd, &st);
    return convert(result, st, status);
}

}  // namespace quill::platform
