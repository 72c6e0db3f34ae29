#include "platform/file_reading.h"

#include "platform/last_error.h"
#include "platform/windows/wide.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace quill::platform {

namespace {

bool failWithSystemError() { return detail::fail(windows::errnoFromSystemError(GetLastError())); }

int descriptorOf(HANDLE handle) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        detail::fail(EMFILE);
        return -1;
    }
    detail::succeed();
    return fd;
}

}  // namespace

int openFileForReading(const std::string& path) {
    // Shared every way, as a Debian reader is: the writer, a rename and a delete go on.
    const HANDLE handle = CreateFileW(windows::toWide(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failWithSystemError(), -1;
    // A pipe or a device would wait for bytes or make them up.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        detail::fail(EACCES);
        return -1;
    }
    return descriptorOf(handle);
}

std::int64_t readFileAt(int fd, std::uint64_t offset, void* out, std::size_t size) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) return detail::fail(EBADF), -1;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD n = 0;
    if (!ReadFile(handle, out, chunk, &n, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) return detail::succeed(), 0;
        return failWithSystemError(), -1;
    }
    detail::succeed();
    return n;
}

int duplicateFile(int fd) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) return detail::fail(EBADF), -1;
    HANDLE own = nullptr;
    const HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, handle, process, &own, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return failWithSystemError(), -1;
    }
    return descriptorOf(own);
}

void closeFileForReading(int fd) {
    if (fd >= 0) _close(fd);
}

}  // namespace quill::platform
