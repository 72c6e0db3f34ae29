// File and folder primitives with the semantics the program's callers expect
// of a Windows file system: a read-only file (the read-only attribute on
// Windows, the owner write bit clear on Debian) cannot be deleted or
// overwritten even by root, a move never replaces its target, and creating a
// folder makes one level only. Paths are UTF-8; Windows gets them as UTF-16.
// Each returns a success flag; on failure lastError() gives the errno value
// (Windows' own codes mapped to it) for systemErrorText().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quill::platform {

// The one place that knows which system it is built for: the separator the
// system itself writes.
#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

bool fileExists(const std::string& path);    // true only for an existing regular file
bool folderExists(const std::string& path);
bool deleteFile(const std::string& path);
bool copyFile(const std::string& from, const std::string& to, bool failIfExists);  // content and permission bits; never creates folders
bool moveFile(const std::string& from, const std::string& to);                     // no replace, same file system only, no folders created
bool renamePath(const std::string& from, const std::string& to);                   // a file or a whole folder at once; no replace, same file system only
bool createFolder(const std::string& path);  // one level: fails when it exists or the parent is missing
bool removeFolder(const std::string& path);  // an empty folder
bool isReadOnly(const std::string& path);
bool setReadOnly(const std::string& path, bool readOnly);
bool setNormalAttributes(const std::string& path);  // gives the owner write permission back
bool setPermissions(const std::string& path, unsigned mode);  // the permission bits, as chmod sets them
// Renames over `to` when it exists: how a small file is replaced whole.
bool replaceFile(const std::string& from, const std::string& to);

// A file open for writing (and reading), by descriptor; -1 on failure.
// Non-blocking, so that a pipe of that name fails instead of waiting for a
// reader. `append`: every write goes at the end, and the file can be read too.
enum class Opening { createNew, existing, createOrExisting };
int openFileForWriting(const std::string& path, Opening how, bool append = false, unsigned mode = 0666);
// All of it, or false; `written` tells how much got there either way.
bool writeToFile(int fd, const char* data, std::size_t size, std::size_t* written = nullptr);
bool truncateFile(int fd, std::uint64_t size);
bool syncFileData(int fd);  // its data and size reach the disk before this returns
bool closeFile(int fd);
bool syncFile(const std::string& path);  // the same, for a file by name
// The same for many files, their writing started together first so that the
// disk takes them in one go; false at the first that fails.
bool syncFiles(const std::vector<std::string>& paths);

// One entry of a folder listing; a symbolic link is never reported as a folder.
struct FolderEntry {
    std::string name;
    bool isFolder = false;
    bool isLink = false;
};
// The entries of a folder in the order the file system lists them, without "." and "..".
bool listFolder(const std::string& path, std::vector<FolderEntry>& entries);
// The file system that holds path (its device number).
bool fileSystemOf(const std::string& path, std::uint64_t& device);
bool pathExists(const std::string& path);  // anything at all, a dangling link too

// The room on the file system that holds path (which must exist), in bytes:
// what an ordinary user may still write there, the whole size, and the block
// each file's size is rounded up to.
struct DiskSpace {
    std::uint64_t available = 0;
    std::uint64_t total = 0;
    std::uint64_t blockSize = 0;
};
bool diskSpaceOf(const std::string& path, DiskSpace& space);

// Durability: what a folder lists, or everything written to the file system
// that holds path, reaches the disk before these return.
bool syncFolder(const std::string& path);
bool syncFileSystem(const std::string& path);

// The whole content of a regular file; false for a folder or an unreadable file.
// With refuseWhileWritten, also false (EBUSY) while another holds the file's
// exclusive flock, as a writer saving it does.
bool readWholeFile(const std::string& path, std::string& bytes, bool refuseWhileWritten = false);

// Absolute and lexically normal, as GetFullPathName gives it; "" stays "".
std::string fullPath(const std::string& path);

int lastError();
// The system's text for an errno value, such as "No such file or directory".
std::string systemErrorText(int code);

// Full path of the running program file.
std::string modulePath();
// Whether path names the running program's file, under whatever name.
bool isRunningProgram(const std::string& path);
// The permission bits the user keeps from new files (the umask).
unsigned creationMask();
void sleepMilliseconds(int ms);

}  // namespace quill::platform
