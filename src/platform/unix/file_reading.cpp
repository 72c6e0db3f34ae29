#include "platform/file_reading.h"

#include "platform/last_error.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quill::platform {

int openFileForReading(const std::string& path) {
    // Non-blocking, so that a pipe of that name fails instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) detail::fail(errno);
    else detail::succeed();
    return fd;
}

std::int64_t readFileAt(int fd, std::uint64_t offset, void* out, std::size_t size) {
    ssize_t n;
    do n = ::pread(fd, out, size, static_cast<off_t>(offset));
    while (n < 0 && errno == EINTR);
    if (n < 0) return detail::fail(errno), -1;
    detail::succeed();
    return n;
}

int duplicateFile(int fd) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) detail::fail(errno);
    else detail::succeed();
    return own;
}

void closeFileForReading(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace quill::platform
