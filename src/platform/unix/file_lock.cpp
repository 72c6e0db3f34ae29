#include "platform/file_lock.h"

#include "platform/last_error.h"

#include <cerrno>
#include <sys/file.h>

namespace quill::platform {

bool tryLockFile(int fd, LockKind kind) {
    if (::flock(fd, (kind == LockKind::exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return detail::succeed();
    return detail::fail(errno == EWOULDBLOCK ? EBUSY : errno);
}

}  // namespace quill::platform
