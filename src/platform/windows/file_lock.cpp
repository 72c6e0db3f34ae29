#include "platform/file_lock.h"

#include "platform/last_error.h"
#include "platform/windows/wide.h"

#include <cerrno>
#include <io.h>

#include <windows.h>

namespace quill::platform {

bool tryLockFile(int fd, LockKind kind) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) return detail::fail(EBADF);
    // Every byte the file has or may ever have, so that the lock covers the file itself.
    OVERLAPPED from{};
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (kind == LockKind::exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(handle, flags, 0, MAXDWORD, MAXDWORD, &from)) return detail::succeed();
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return detail::fail(EBUSY);
    return detail::fail(windows::errnoFromSystemError(error));
}

}  // namespace quill::platform
