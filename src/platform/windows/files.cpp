#include "platform/files.h"

#include "platform/file_events.h"
#include "platform/file_event_reports.h"
#include "platform/last_error.h"
#include "platform/windows/wide.h"

#include <cerrno>
#include <cstring>
#include <io.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <vector>

#include <windows.h>

namespace quill::platform {

using windows::errnoFromSystemError;
using windows::fromWide;
using windows::toWide;

namespace {

// Descriptors opened to append: each write goes at the end.
std::mutex g_appendingLock;
std::map<int, bool> g_appending;

using detail::report;
using detail::reportOnFile;

using detail::fail;

bool failWithSystemError() { return fail(errnoFromSystemError(GetLastError())); }

using detail::succeed;

DWORD attributesOf(const std::string& path) { return GetFileAttributesW(toWide(path).c_str()); }

bool isFolderAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A handle that reads a file or a folder's entries, and flushes either.
HANDLE openForFlushing(const std::string& path, bool folder) {
    return CreateFileW(toWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::uint64_t filePointer(HANDLE handle) {
    LARGE_INTEGER zero{}, at{};
    SetFilePointerEx(handle, zero, &at, FILE_CURRENT);
    return static_cast<std::uint64_t>(at.QuadPart);
}

bool writeAll(int fd, const char* data, std::size_t size, std::size_t* written) {
    if (written) *written = 0;
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return fail(EBADF);
    bool appending = false;
    {
        std::lock_guard lock(g_appendingLock);
        const auto it = g_appending.find(fd);
        appending = it != g_appending.end() && it->second;
    }
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD n = 0;
        OVERLAPPED atTheEnd{};
        // Both halves all ones: the write goes at the end, wherever that is now.
        atTheEnd.Offset = 0xFFFFFFFF;
        atTheEnd.OffsetHigh = 0xFFFFFFFF;
        if (!WriteFile(handle, data, chunk, &n, appending ? &atTheEnd : nullptr)) return failWithSystemError();
        if (detail::observed()) {
            reportOnFile(FileEvent::Kind::Write, fd, filePointer(handle) - n, std::string_view(data, n));
        }
        data += n;
        size -= n;
        if (written) *written += n;
    }
    return succeed();
}

struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
};

bool identityOf(const std::string& path, FileIdentity& identity) {
    const HANDLE handle = CreateFileW(toWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!ok) return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

void reportReadOnly(const std::string& path, bool readOnly) {
    // What the read-only attribute stands for in the permission bits.
    report(FileEvent::Kind::SetMode, path, {}, readOnly ? 0444 : 0666);
}

}  // namespace

bool fileExists(const std::string& path) {
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool folderExists(const std::string& path) { return isFolderAttributes(attributesOf(path)); }

bool deleteFile(const std::string& path) {
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return failWithSystemError();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fail(EISDIR);
    if (!DeleteFileW(toWide(path).c_str())) return failWithSystemError();
    report(FileEvent::Kind::Remove, path);
    return succeed();
}

bool copyFile(const std::string& from, const std::string& to, bool failIfExists) {
    const DWORD source = attributesOf(from);
    if (source == INVALID_FILE_ATTRIBUTES) return failWithSystemError();
    if (source & FILE_ATTRIBUTE_DIRECTORY) return fail(EISDIR);
    const DWORD target = attributesOf(to);
    if (target != INVALID_FILE_ATTRIBUTES) {
        FileIdentity a, b;
        if (failIfExists) return fail(EEXIST);
        if (target & FILE_ATTRIBUTE_DIRECTORY) return fail(EISDIR);
        if (target & FILE_ATTRIBUTE_READONLY) return fail(EACCES);
        // Copying the source onto itself would lose it.
        if (identityOf(from, a) && identityOf(to, b) && a == b) return fail(EBUSY);
    }
    if (!CopyFileW(toWide(from).c_str(), toWide(to).c_str(), failIfExists)) {
        const int code = errnoFromSystemError(GetLastError());
        // A half-written copy is worse than none, read-only or not.
        if (target == INVALID_FILE_ATTRIBUTES || !failIfExists) {
            SetFileAttributesW(toWide(to).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(toWide(to).c_str());
        }
        return fail(code);
    }
    return succeed();
}

bool moveFile(const std::string& from, const std::string& to) {
    const DWORD attributes = attributesOf(from);
    if (attributes == INVALID_FILE_ATTRIBUTES) return failWithSystemError();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fail(EISDIR);
    return renamePath(from, to);
}

bool renamePath(const std::string& from, const std::string& to) {
    // Without MOVEFILE_COPY_ALLOWED, another volume fails instead of copying.
    if (!MoveFileExW(toWide(from).c_str(), toWide(to).c_str(), 0)) return failWithSystemError();
    report(FileEvent::Kind::Rename, from, to);
    return succeed();
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (!MoveFileExW(toWide(from).c_str(), toWide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return failWithSystemError();
    }
    report(FileEvent::Kind::Replace, from, to);
    return succeed();
}

int openFileForWriting(const std::string& path, Opening how, bool append, unsigned mode) {
    const DWORD disposition = how == Opening::createNew ? CREATE_NEW
                              : how == Opening::existing ? OPEN_EXISTING
                                                         : OPEN_ALWAYS;
    // A new file without the owner's write bit is made read-only, as the bits ask.
    const DWORD attributes = (mode & 0200) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
    const HANDLE handle = CreateFileW(toWide(path).c_str(), append ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                                      attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failWithSystemError();
        return -1;
    }
    // NUL, CON and pipes are no files; writing to them would lose the data.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        fail(EINVAL);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | (append ? _O_RDWR : _O_WRONLY));
    if (fd < 0) {
        CloseHandle(handle);
        fail(EMFILE);
        return -1;
    }
    {
        std::lock_guard lock(g_appendingLock);
        g_appending[fd] = append;
    }
    reportOnFile(FileEvent::Kind::Open, fd, 0, {}, path);
    succeed();
    return fd;
}

bool writeToFile(int fd, const char* data, std::size_t size, std::size_t* written) {
    return writeAll(fd, data, size, written);
}

bool truncateFile(int fd, std::uint64_t size) {
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return fail(EBADF);
    // The end moves, the place of the next write does not, as ftruncate leaves it.
    const std::uint64_t at = filePointer(handle);
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    LARGE_INTEGER back{};
    back.QuadPart = static_cast<LONGLONG>(at);
    const bool ok = SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
    const DWORD error = GetLastError();
    SetFilePointerEx(handle, back, nullptr, FILE_BEGIN);
    if (!ok) return fail(errnoFromSystemError(error));
    reportOnFile(FileEvent::Kind::Truncate, fd, size);
    return succeed();
}

bool syncFileData(int fd) {
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return fail(EBADF);
    if (!FlushFileBuffers(handle)) return failWithSystemError();
    reportOnFile(FileEvent::Kind::SyncData, fd);
    return succeed();
}

bool closeFile(int fd) {
    {
        std::lock_guard lock(g_appendingLock);
        g_appending.erase(fd);
    }
    const bool closed = _close(fd) == 0;
    const int code = errno;
    reportOnFile(FileEvent::Kind::Close, fd);
    return closed ? succeed() : fail(code);
}

bool syncFile(const std::string& path) {
    const HANDLE handle = openForFlushing(path, false);
    if (handle == INVALID_HANDLE_VALUE) return failWithSystemError();
    const bool ok = FlushFileBuffers(handle);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (!ok) return fail(errnoFromSystemError(error));
    report(FileEvent::Kind::SyncData, path);
    return succeed();
}

bool syncFiles(const std::vector<std::string>& paths) {
    // Windows starts no write-back on request; each flush waits for its own file.
    for (const auto& path : paths) {
        if (!syncFile(path)) return false;
    }
    return true;
}

bool createFolder(const std::string& path) {
    if (!CreateDirectoryW(toWide(path).c_str(), nullptr)) return failWithSystemError();
    report(FileEvent::Kind::MakeFolder, path);
    return succeed();
}

bool removeFolder(const std::string& path) {
    if (!RemoveDirectoryW(toWide(path).c_str())) return failWithSystemError();
    report(FileEvent::Kind::RemoveFolder, path);
    return succeed();
}

bool isReadOnly(const std::string& path) {
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool setReadOnly(const std::string& path, bool readOnly) {
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return failWithSystemError();
    const DWORD wanted = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
    if (wanted == attributes) return succeed();
    if (!SetFileAttributesW(toWide(path).c_str(), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted)) {
        return failWithSystemError();
    }
    reportReadOnly(path, readOnly);
    return succeed();
}

bool setNormalAttributes(const std::string& path) { return setReadOnly(path, false); }

bool setPermissions(const std::string& path, unsigned mode) {
    // Of the bits, Windows keeps only whether the owner may write.
    return setReadOnly(path, (mode & 0200) == 0);
}

bool listFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    entries.clear();
    std::string pattern = path;
    if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/')) pattern += kSeparator;
    pattern += '*';
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(toWide(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // An empty folder still has "." and ".."; only a root has neither.
        if (GetLastError() == ERROR_FILE_NOT_FOUND && folderExists(path)) return succeed();
        return failWithSystemError();
    }
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        FolderEntry item;
        item.name = fromWide(name);
        item.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        item.isFolder = !item.isLink && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entries.push_back(std::move(item));
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) return fail(errnoFromSystemError(error));
    return succeed();
}

bool fileSystemOf(const std::string& path, std::uint64_t& device) {
    FileIdentity identity;
    if (!identityOf(path, identity)) return failWithSystemError();
    device = identity.volume;
    return succeed();
}

bool diskSpaceOf(const std::string& path, DiskSpace& space) {
    ULARGE_INTEGER available{}, total{}, free{};
    if (!GetDiskFreeSpaceExW(toWide(path).c_str(), &available, &total, &free)) return failWithSystemError();
    space.available = available.QuadPart;
    space.total = total.QuadPart;
    // A file's size is rounded up to the volume's cluster.
    wchar_t root[MAX_PATH + 1] = {};
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (GetVolumePathNameW(toWide(path).c_str(), root, MAX_PATH) &&
        GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
        space.blockSize = static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector;
    }
    if (space.blockSize == 0) space.blockSize = 4096;
    return succeed();
}

bool syncFolder(const std::string& path) {
    // Windows writes a folder's entries through a handle to the folder itself.
    const HANDLE handle = openForFlushing(path, true);
    if (handle == INVALID_HANDLE_VALUE) return failWithSystemError();
    const bool ok = FlushFileBuffers(handle);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (!ok) return fail(errnoFromSystemError(error));
    report(FileEvent::Kind::SyncFolder, path);
    return succeed();
}

bool syncFileSystem(const std::string& path) {
    // Flushing a whole volume needs an administrator; an ordinary user flushes
    // the folder, which is what the callers changed.
    wchar_t root[MAX_PATH + 1] = {};
    bool ok = false;
    if (GetVolumePathNameW(toWide(path).c_str(), root, MAX_PATH)) {
        std::wstring volume = L"\\\\.\\" + std::wstring(root);
        if (!volume.empty() && volume.back() == L'\\') volume.pop_back();
        const HANDLE handle = CreateFileW(volume.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            ok = FlushFileBuffers(handle);
            CloseHandle(handle);
        }
    }
    if (!ok && !syncFolder(path)) return false;
    report(FileEvent::Kind::SyncAll, path);
    return succeed();
}

bool readWholeFile(const std::string& path, std::string& bytes, bool refuseWhileWritten) {
    bytes.clear();
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return failWithSystemError();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fail(EISDIR);
    // Sharing no writing: a file someone has open to write is refused.
    const DWORD share = refuseWhileWritten ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle = CreateFileW(toWide(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failWithSystemError();
    std::vector<char> buffer(1 << 16);
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) {
            error = GetLastError();
            break;
        }
        if (n == 0) break;
        bytes.append(buffer.data(), n);
    }
    CloseHandle(handle);
    if (error != ERROR_SUCCESS) {
        bytes.clear();
        return fail(errnoFromSystemError(error));
    }
    return succeed();
}

bool pathExists(const std::string& path) { return attributesOf(path) != INVALID_FILE_ATTRIBUTES; }

std::string systemErrorText(int code) {
    // The C library's text for the errno value, as on Debian.
    return std::strerror(code);
}

std::string fullPath(const std::string& path) {
    if (path.empty()) return path;
    const std::wstring wide = toWide(path);
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0) return path;
        if (n < buffer.size()) return fromWide(std::wstring_view(buffer.data(), n));
        buffer.resize(n + 1);
    }
}

std::string modulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        // A full buffer means the name was cut.
        if (n < buffer.size()) return fromWide(std::wstring_view(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

namespace {

// The volume and file index name one file whatever path leads to it.
bool identityOf(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE file = CreateFileW(toWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return known;
}

}  // namespace

bool isRunningProgram(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION file{}, program{};
    return identityOf(path, file) && identityOf(modulePath(), program) &&
           file.dwVolumeSerialNumber == program.dwVolumeSerialNumber && file.nFileIndexHigh == program.nFileIndexHigh &&
           file.nFileIndexLow == program.nFileIndexLow;
}

// Windows has no umask: of the bits, only the owner's write is kept, and that is never withheld.
unsigned creationMask() { return 0; }

void sleepMilliseconds(int ms) { Sleep(ms < 0 ? 0 : static_cast<DWORD>(ms)); }

}  // namespace quill::platform
