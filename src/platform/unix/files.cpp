#include "platform/files.h"

#include "platform/file_events.h"
#include "platform/file_event_reports.h"
#include "platform/last_error.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quill::platform {

namespace {

using detail::report;
using detail::reportOnFile;

using detail::fail;

using detail::succeed;

void reportMode(const std::string& path, mode_t mode) { report(FileEvent::Kind::SetMode, path, {}, mode); }

// Root ignores permission bits, so the read-only rule is checked by hand.
bool modeIsReadOnly(mode_t mode) { return (mode & S_IWUSR) == 0; }

int renameNoReplace(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#else
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 1u));
#endif
}

bool writeAll(int fd, const char* data, std::size_t size, std::size_t* written = nullptr) {
    if (written) *written = 0;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (detail::observed()) {
            // Where it went: an appending write lands at the end, wherever that is.
            const auto end = static_cast<std::uint64_t>(::lseek(fd, 0, SEEK_CUR));
            reportOnFile(FileEvent::Kind::Write, fd, end - static_cast<std::uint64_t>(n),
                         std::string_view(data, static_cast<std::size_t>(n)));
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        if (written) *written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool folderExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool deleteFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return fail(errno);
    if (S_ISDIR(st.st_mode)) return fail(EISDIR);
    if (!S_ISLNK(st.st_mode) && modeIsReadOnly(st.st_mode)) return fail(EACCES);
    if (::unlink(path.c_str()) != 0) return fail(errno);
    report(FileEvent::Kind::Remove, path);
    return succeed();
}

bool copyFile(const std::string& from, const std::string& to, bool failIfExists) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return fail(errno);
    struct stat source {};
    if (::fstat(in, &source) != 0 || !S_ISREG(source.st_mode)) {
        const int code = S_ISDIR(source.st_mode) ? EISDIR : errno;
        ::close(in);
        return fail(code);
    }
    struct stat target {};
    const bool targetExisted = ::stat(to.c_str(), &target) == 0;
    if (targetExisted) {
        int code = 0;
        if (failIfExists) code = EEXIST;
        else if (S_ISDIR(target.st_mode)) code = EISDIR;
        else if (modeIsReadOnly(target.st_mode)) code = EACCES;
        // Truncating the source onto itself would lose it.
        else if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) code = EBUSY;
        if (code != 0) {
            ::close(in);
            return fail(code);
        }
    }
    const int out = openFileForWriting(to, failIfExists ? Opening::createNew : Opening::createOrExisting, false, 0600);
    if (out < 0) {
        const int code = lastError();
        ::close(in);
        return fail(code);
    }
    int code = 0;
    if (!failIfExists && !truncateFile(out, 0)) code = lastError();
    std::vector<char> buffer(1 << 16);
    while (code == 0) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            code = errno;
            break;
        }
        if (n == 0) break;
        if (!writeAll(out, buffer.data(), static_cast<std::size_t>(n))) code = errno;
    }
    if (code == 0) {
        if (::fchmod(out, source.st_mode & 07777) != 0) code = errno;
        else reportMode(to, source.st_mode & 07777);
    }
    if (!closeFile(out) && code == 0) code = lastError();
    ::close(in);
    if (code != 0) {
        // A half-written copy is worse than none, read-only or not.
        if (::unlink(to.c_str()) == 0) report(FileEvent::Kind::Remove, to);
        return fail(code);
    }
    return succeed();
}

bool moveFile(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return fail(errno);
    if (S_ISDIR(st.st_mode)) return fail(EISDIR);
    return renamePath(from, to);
}

bool renamePath(const std::string& from, const std::string& to) {
    if (renameNoReplace(from.c_str(), to.c_str()) != 0) return fail(errno);
    report(FileEvent::Kind::Rename, from, to);
    return succeed();
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return fail(errno);
    report(FileEvent::Kind::Replace, from, to);
    return succeed();
}

int openFileForWriting(const std::string& path, Opening how, bool append, unsigned mode) {
    int flags = O_CLOEXEC | O_NONBLOCK | (append ? O_RDWR | O_APPEND : O_WRONLY);
    if (how == Opening::createNew) flags |= O_CREAT | O_EXCL;
    if (how == Opening::createOrExisting) flags |= O_CREAT;
    const int fd = ::open(path.c_str(), flags, static_cast<mode_t>(mode));
    if (fd < 0) {
        fail(errno);
        return -1;
    }
    reportOnFile(FileEvent::Kind::Open, fd, 0, {}, path);
    succeed();
    return fd;
}

bool writeToFile(int fd, const char* data, std::size_t size, std::size_t* written) {
    if (!writeAll(fd, data, size, written)) return fail(errno);
    return succeed();
}

bool truncateFile(int fd, std::uint64_t size) {
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return fail(errno);
    reportOnFile(FileEvent::Kind::Truncate, fd, size);
    return succeed();
}

bool syncFileData(int fd) {
    if (::fdatasync(fd) != 0) return fail(errno);
    reportOnFile(FileEvent::Kind::SyncData, fd);
    return succeed();
}

bool closeFile(int fd) {
    // The descriptor is gone either way; a late write error shows here.
    const bool closed = ::close(fd) == 0 || errno == EINTR;
    const int code = errno;
    reportOnFile(FileEvent::Kind::Close, fd);
    return closed ? succeed() : fail(code);
}

bool syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail(errno);
    const int code = ::fdatasync(fd) == 0 ? 0 : errno;
    ::close(fd);
    if (code != 0) return fail(code);
    report(FileEvent::Kind::SyncData, path);
    return succeed();
}

bool syncFiles(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) continue;  // the second pass tells
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        ::close(fd);
    }
    for (const auto& path : paths) {
        if (!syncFile(path)) return false;
    }
    return true;
}

bool createFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0) return fail(errno);
    report(FileEvent::Kind::MakeFolder, path);
    return succeed();
}

bool removeFolder(const std::string& path) {
    if (::rmdir(path.c_str()) != 0) return fail(errno);
    report(FileEvent::Kind::RemoveFolder, path);
    return succeed();
}

bool isReadOnly(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && modeIsReadOnly(st.st_mode);
}

bool setReadOnly(const std::string& path, bool readOnly) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fail(errno);
    const mode_t mode = readOnly ? (st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (st.st_mode | S_IWUSR);
    if ((mode & 07777) == (st.st_mode & 07777)) return succeed();
    if (::chmod(path.c_str(), mode & 07777) != 0) return fail(errno);
    reportMode(path, mode & 07777);
    return succeed();
}

bool setNormalAttributes(const std::string& path) { return setReadOnly(path, false); }

bool setPermissions(const std::string& path, unsigned mode) {
    if (::chmod(path.c_str(), static_cast<mode_t>(mode & 07777)) != 0) return fail(errno);
    reportMode(path, static_cast<mode_t>(mode & 07777));
    return succeed();
}

bool listFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    entries.clear();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return fail(errno);
    std::string base = path;
    if (base.empty() || base.back() != kSeparator) base += kSeparator;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry item;
        item.name = name;
        struct stat st {};
        if (::lstat((base + name).c_str(), &st) == 0) {
            item.isFolder = S_ISDIR(st.st_mode);
            item.isLink = S_ISLNK(st.st_mode);
        }
        entries.push_back(std::move(item));
    }
    const int code = errno;
    ::closedir(dir);
    if (code != 0) return fail(code);
    return succeed();
}

bool fileSystemOf(const std::string& path, std::uint64_t& device) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fail(errno);
    device = static_cast<std::uint64_t>(st.st_dev);
    return succeed();
}

bool diskSpaceOf(const std::string& path, DiskSpace& space) {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) return fail(errno);
    const std::uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    // Not the blocks kept for root: they are the system's own reserve.
    space.available = static_cast<std::uint64_t>(st.f_bavail) * unit;
    space.total = static_cast<std::uint64_t>(st.f_blocks) * unit;
    space.blockSize = st.f_bsize ? st.f_bsize : unit;
    return succeed();
}

namespace {

template <typename Sync>
bool syncThrough(const std::string& path, Sync sync) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    const int code = sync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return code == 0 ? succeed() : fail(code);
}

}  // namespace

bool syncFolder(const std::string& path) {
    if (!syncThrough(path, ::fsync)) return false;
    report(FileEvent::Kind::SyncFolder, path);
    return true;
}

bool syncFileSystem(const std::string& path) {
    if (!syncThrough(path, ::syncfs)) return false;
    report(FileEvent::Kind::SyncAll, path);
    return true;
}

bool readWholeFile(const std::string& path, std::string& bytes, bool refuseWhileWritten) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    struct stat st {};
    int code = 0;
    if (::fstat(fd, &st) != 0) code = errno;
    else if (S_ISDIR(st.st_mode)) code = EISDIR;
    else if (refuseWhileWritten && ::flock(fd, LOCK_SH | LOCK_NB) != 0) code = errno == EWOULDBLOCK ? EBUSY : errno;
    std::vector<char> buffer(1 << 16);
    while (code == 0) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            code = errno;
        } else if (n == 0) {
            break;
        } else {
            bytes.append(buffer.data(), static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (code != 0) {
        bytes.clear();
        return fail(code);
    }
    return succeed();
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string systemErrorText(int code) {
    char buffer[256];
    // The GNU strerror_r may return a static text instead of filling the buffer.
    return ::strerror_r(code, buffer, sizeof buffer);
}

std::string fullPath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    if (ec) return path;
    return absolute.lexically_normal().string();
}

std::string modulePath() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

bool isRunningProgram(const std::string& path) {
    struct stat file {};
    struct stat program {};
    return ::stat(path.c_str(), &file) == 0 && ::stat("/proc/self/exe", &program) == 0 &&
           file.st_dev == program.st_dev && file.st_ino == program.st_ino;
}

unsigned creationMask() {
    // Read, not set and set back: another thread may be creating a file meanwhile.
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found) return mask & 0777;
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask & 0777;
}

void sleepMilliseconds(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace quill::platform
