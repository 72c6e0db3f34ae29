#include "platform/file_status.h"

#include "platform/last_error.h"
#include "platform/windows/wide.h"

#include <io.h>

#include <windows.h>

namespace quill::platform {

namespace {

bool fromHandle(HANDLE handle, FileStatus& status) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return detail::fail(windows::errnoFromSystemError(GetLastError()));
    const DWORD attributes = info.dwFileAttributes;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A handle opened on the link itself shows the link; one opened through it, the target.
    status.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FileKind::link
                  : folder                                    ? FileKind::folder
                  : GetFileType(handle) == FILE_TYPE_DISK     ? FileKind::file
                                                              : FileKind::other;
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    // Of the permission bits, Windows keeps only whether anyone may write.
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    status.mode = folder ? (readOnly ? 0555 : 0777) : (readOnly ? 0444 : 0666);
    status.device = info.dwVolumeSerialNumber;
    status.identity = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    status.modified = static_cast<std::int64_t>(ticks * 100);
    return detail::succeed();
}

bool statusByName(const std::string& path, FileStatus& status, DWORD flags) {
    // Attributes only: a file another program holds open, even locked, still answers.
    const HANDLE handle = CreateFileW(windows::toWide(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return detail::fail(windows::errnoFromSystemError(GetLastError()));
    const bool ok = fromHandle(handle, status);
    CloseHandle(handle);
    return ok;
}

}  // namespace

bool statusOf(const std::string& path, FileStatus& status) { return statusByName(path, status, 0); }

bool linkStatusOf(const std::string& path, FileStatus& status) {
    return statusByName(path, status, FILE_FLAG_OPEN_REPARSE_POINT);
}

bool openFileStatus(int fd, FileStatus& status) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) return detail::fail(EBADF);
    return fromHandle(handle, status);
}

}  // namespace quill::platform
