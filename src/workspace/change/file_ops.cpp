#include "workspace/change/file_ops.h"

#include "platform/error.h"
#include "platform/file_lock.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "workspace/app/format_settings.h"
#include "workspace/app/path_rules.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <vector>

namespace quill {

using platform::kSeparator;

namespace {

std::string quotedFileText(const char* what, const std::string& path, int error) {
    return std::string(what) + " \"" + platform::fullPath(path) + "\". " + platform::systemErrorText(error);
}

// A full folder path without trailing separators, the root excepted.
std::string folderPath(const std::string& path) {
    std::string full = platform::fullPath(path);
    while (full.size() > 1 && full.back() == kSeparator) full.pop_back();
    return full;
}

std::string withSeparator(const std::string& folder) {
    return !folder.empty() && folder.back() == kSeparator ? folder : folder + kSeparator;
}

void checkPathText(const std::string& full) {
    checkPathLength(full);
    checkPathCharacters(full);
}

bool isLinkPath(const std::string& path) {
    platform::FileStatus status;
    return platform::linkStatusOf(path, status) && status.kind == platform::FileKind::link;
}

void deleteContents(const std::string& folder) {
    // A folder without owner write permission would keep its entries.
    platform::setNormalAttributes(folder);
    std::vector<platform::FolderEntry> entries;
    platform::listFolder(folder, entries);
    const std::string base = withSeparator(folder);
    for (const auto& entry : entries) {
        const std::string path = base + entry.name;
        if (entry.isFolder) {
            deleteContents(path);
            platform::removeFolder(path);
        } else {
            // A link is removed itself; its target is not ours to touch.
            if (!entry.isLink) platform::setNormalAttributes(path);
            platform::deleteFile(path);
        }
    }
}

// Moves the contents of from into to; remembers the first file that stayed behind.
void moveContents(const std::string& from, const std::string& to, std::string& stuck, int& stuckError) {
    std::vector<platform::FolderEntry> entries;
    platform::listFolder(from, entries);
    const std::string source = withSeparator(from);
    const std::string target = withSeparator(to);
    for (const auto& entry : entries) {
        const std::string path = source + entry.name;
        const std::string moved = target + entry.name;
        if (entry.isFolder) {
            platform::createFolder(moved);
            moveContents(path, moved, stuck, stuckError);
            platform::removeFolder(path);
            continue;
        }
        const bool readOnly = !entry.isLink && platform::isReadOnly(path);
        if (readOnly) platform::setNormalAttributes(path);
        const bool ok = platform::moveFile(path, moved);
        if (!ok && stuck.empty()) {
            stuck = path;
            stuckError = platform::lastError();
        }
        if (readOnly) platform::setReadOnly(ok ? moved : path, true);
    }
}

// The nearest folder that exists on the way up from path; "" when there is none.
std::string nearestExistingFolder(std::string path) {
    for (;;) {
        if (platform::folderExists(path)) return path;
        const auto cut = path.find_last_of(kSeparator);
        if (cut == std::string::npos) return {};
        if (cut == 0) {
            if (path == "/") return {};
            path = "/";
        } else {
            path.resize(cut);
        }
    }
}

// The device of the nearest folder that exists on the way up from path.
bool nearestExistingDevice(const std::string& path, std::uint64_t& device) {
    const std::string folder = nearestExistingFolder(path);
    return !folder.empty() && platform::fileSystemOf(folder, device);
}

// Megabytes with one decimal, rounded the way that never makes a refusal look wrong.
std::string megabytes(std::uint64_t bytes, bool roundUp) {
    constexpr std::uint64_t kTenth = 1024 * 1024 / 10;
    const std::uint64_t tenths = roundUp ? (bytes + kTenth - 1) / kTenth : bytes / kTenth;
    return std::to_string(tenths / 10) + formatSettings().decimalSeparator + std::to_string(tenths % 10) + " MB";
}

// An existing file opened to be written over, locked against other programs.
struct FileInTheWay {
    int fd = -1;
    platform::FileStatus status;
};

// The errno a write over the file at path fails with, or 0 with file open and locked.
int openFileInTheWay(const std::string& path, FileInTheWay& file) {
    const int fd = platform::openFileForWriting(path, platform::Opening::existing);
    if (fd < 0) return platform::lastError();
    int error = 0;
    if (!platform::openFileStatus(fd, file.status)) error = platform::lastError();
    else if (file.status.kind != platform::FileKind::file) error = EACCES;
    else if ((file.status.mode & 0200) == 0) error = EACCES;  // read-only, even for root
    else if (!platform::tryLockFile(fd, platform::LockKind::exclusive)) error = platform::lastError();
    if (error != 0) {
        platform::closeFile(fd);
        return error;
    }
    file.fd = fd;
    return 0;
}

// Exclusive while written: a reader that holds a shared lock keeps us out.
int lockedWhileWritten(int fd, const std::string& path) {
    if (!platform::tryLockFile(fd, platform::LockKind::exclusive)) {
        const int error = platform::lastError();
        platform::closeFile(fd);
        throw AppError(cannotCreateFileText(path, error));
    }
    return fd;
}

bool isInside(const std::string& folder, const std::string& parent) {
    const std::string prefix = withSeparator(parent);
    return folder.size() > prefix.size() && folder.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string cannotCreateFileText(const std::string& path, int error) {
    return quotedFileText("Cannot create file", path, error);
}

std::string cannotWriteFileText(const std::string& path, int error) {
    return quotedFileText("Cannot write file", path, error);
}

std::string cannotOpenFileText(const std::string& path, int error) {
    return quotedFileText("Cannot open file", path, error);
}

int whyNotWritable(const std::string& path) {
    FileInTheWay file;
    const int error = openFileInTheWay(path, file);
    if (error == 0) platform::closeFile(file.fd);
    return error;
}

OutputFile::OutputFile(const std::string& path, Overwrite overwrite) : path_(path) {
    const int fd = platform::openFileForWriting(path, platform::Opening::createNew);
    if (fd >= 0) {
        fd_ = lockedWhileWritten(fd, path);
        return;
    }
    if (platform::lastError() != EEXIST) throw AppError(cannotCreateFileText(path, platform::lastError()));
    FileInTheWay old;
    if (const int error = openFileInTheWay(path, old)) throw AppError(cannotCreateFileText(path, error));
    fd_ = old.fd;
    // Not emptied now: the file system writes an emptied file out as it is closed.
    if (overwrite == Overwrite::cutAtClose) {
        oldBytes_ = old.status.size;
    } else if (!platform::truncateFile(fd_, 0)) {
        const int error = platform::lastError();
        platform::closeFile(fd_);
        fd_ = -1;
        throw AppError(cannotCreateFileText(path, error));
    }
}

OutputFile::~OutputFile() {
    if (fd_ < 0) return;
    // Stopped half-way: what was written, and nothing of the old file after it.
    cutOldBytes();
    platform::closeFile(fd_);
}

bool OutputFile::cutOldBytes() {
    return written_ >= oldBytes_ || platform::truncateFile(fd_, written_);
}

void OutputFile::write(const char* data, std::size_t size) {
    if (fd_ < 0) throw AppError("Stream write error");
    std::size_t written = 0;
    const bool whole = platform::writeToFile(fd_, data, size, &written);
    written_ += written;
    if (!whole) throw AppError(cannotWriteFileText(path_, platform::lastError()));
}

void OutputFile::close() {
    if (fd_ < 0) return;
    const bool cut = cutOldBytes();
    const int cutError = platform::lastError();
    const int fd = fd_;
    fd_ = -1;
    // A delayed write error shows only here; it must not pass for success.
    if (!platform::closeFile(fd)) throw AppError(cannotWriteFileText(path_, platform::lastError()));
    if (!cut) throw AppError(cannotWriteFileText(path_, cutError));
}

std::uint64_t diskReserve(std::uint64_t fileSystemSize) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    // A nearly full large disk still takes a small template; a small one keeps room for the next saves.
    return std::clamp<std::uint64_t>(fileSystemSize / 100, 16 * kMiB, 128 * kMiB);
}

void checkFreeSpace(const std::vector<SpaceNeed>& needs, const std::string& name, const std::string& verb) {
    struct OnOneDisk {
        platform::DiskSpace space;
        std::uint64_t needed = 0;
    };
    std::map<std::uint64_t, OnOneDisk> disks;
    for (const SpaceNeed& need : needs) {
        // Where the space cannot be learnt, a write that fails still undoes itself.
        const std::string folder = nearestExistingFolder(folderPath(need.folder));
        std::uint64_t device = 0;
        platform::DiskSpace space;
        if (folder.empty() || !platform::fileSystemOf(folder, device) || !platform::diskSpaceOf(folder, space)) continue;
        OnOneDisk& disk = disks[device];
        if (disk.needed == 0) disk = {space, diskReserve(space.total)};
        // Each file's last block is only partly its own.
        disk.needed += need.bytes + need.files * space.blockSize;
    }
    for (const auto& [device, disk] : disks) {
        if (disk.needed <= disk.space.available) continue;
        const auto cut = name.find_last_of(kSeparator);
        throw AppError("Not enough free disk space to " + verb + " " + name.substr(cut == std::string::npos ? 0 : cut + 1) +
                       ": it needs " + megabytes(disk.needed, true) + ", " + megabytes(disk.space.available, false) +
                       " are free.");
    }
}

void saveBytesToFile(const std::string& bytes, const std::string& path) {
    OutputFile file(path);
    file.write(bytes.data(), bytes.size());
    file.close();
}

namespace {

// The draft's data, then its new name, reach the disk; a draft that fails goes.
void putDraftInPlace(const std::string& draft, const std::string& path, bool replace) {
    const bool placed = platform::syncFile(draft) &&
                        (replace ? platform::replaceFile(draft, path) : platform::renamePath(draft, path));
    const int error = platform::lastError();
    if (!placed) {
        platform::setNormalAttributes(draft);
        platform::deleteFile(draft);
        throw AppError(cannotWriteFileText(path, error));
    }
    // Saved means saved: a power cut after this keeps the new bytes.
    if (!platform::syncFolder(folderHolding(path))) throw AppError(cannotWriteFileText(path, platform::lastError()));
}

// A power cut between a draft's creation and its rename leaves it behind; the
// next save of the same file takes it away.
void removeDraftsOf(const std::string& path) {
    const std::string folder = folderHolding(path);
    const std::string name = path.substr(path.find_last_of(kSeparator) + 1);
    std::vector<platform::FolderEntry> entries;
    if (!platform::listFolder(folder, entries)) return;
    for (const auto& entry : entries) {
        if (entry.isFolder || entry.isLink || !isDraftName(entry.name, name)) continue;
        const std::string draft = (folder == "." ? std::string() : folder) + entry.name;
        platform::setNormalAttributes(draft);
        platform::deleteFile(draft);
    }
}

}  // namespace

std::string folderHolding(const std::string& path) {
    const std::string folder = folderPartOf(path);
    return folder.empty() ? std::string(".") : folder;
}

bool isDraftName(const std::string& entry, const std::string& name) {
    const std::string stem = "." + name + ".new";
    return entry.size() > stem.size() && entry.compare(0, stem.size(), stem) == 0 &&
           entry.find_first_not_of("0123456789", stem.size()) == std::string::npos;
}

std::string draftBeside(const std::string& path) {
    const auto cut = path.find_last_of(kSeparator);
    const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    const std::string name = path.substr(cut == std::string::npos ? 0 : cut + 1);
    for (int n = 0;; ++n) {
        std::string draft = folder + "." + name + ".new" + std::to_string(n);
        if (!platform::pathExists(draft)) return draft;
    }
}

void replaceFileWith(const std::string& bytes, const std::string& path) {
    platform::FileStatus old;
    const bool existed = platform::statusOf(path, old);
    if (existed) {
        if (const int error = whyNotWritable(path)) throw AppError(cannotCreateFileText(path, error));
    }
    removeDraftsOf(path);
    const std::string draft = draftBeside(path);
    const int fd = platform::openFileForWriting(draft, platform::Opening::createNew);
    if (fd < 0) throw AppError(cannotCreateFileText(path, platform::lastError()));
    bool written = platform::writeToFile(fd, bytes.data(), bytes.size());
    int error = platform::lastError();
    if (!platform::closeFile(fd) && written) {
        written = false;
        error = platform::lastError();
    }
    if (written && existed && !platform::setPermissions(draft, old.mode)) {
        written = false;
        error = platform::lastError();
    }
    if (!written) {
        // A failed save leaves the folder as it was, also under a umask that makes the draft read-only.
        platform::setNormalAttributes(draft);
        platform::deleteFile(draft);
        throw AppError(cannotWriteFileText(path, error));
    }
    putDraftInPlace(draft, path, true);
}

void copyFileWhole(const std::string& from, const std::string& to) {
    if (platform::pathExists(to)) throw AppError(platform::systemErrorText(EEXIST));
    removeDraftsOf(to);
    const std::string draft = draftBeside(to);
    if (!platform::copyFile(from, draft, true)) throw AppError(platform::systemErrorText(platform::lastError()));
    putDraftInPlace(draft, to, false);
}

void createFolderOrRaise(const std::string& path) {
    if (!platform::createFolder(path)) throw AppError(platform::systemErrorText(platform::lastError()));
}

void removeTree(const std::string& path) {
    if (!platform::pathExists(path)) return;
    const bool link = isLinkPath(path);
    // A link to a folder is no folder of ours: only the link goes.
    if (!link && platform::folderExists(path)) {
        deleteContents(path);
        platform::setNormalAttributes(path);
        platform::removeFolder(path);
        return;
    }
    if (!link) platform::setNormalAttributes(path);
    platform::deleteFile(path);
}

void deleteFolderTree(const std::string& path) {
    const std::string full = folderPath(path);
    if (platform::fileExists(full)) throw AppError("The specified directory name is invalid");
    checkPathText(full);
    if (!platform::folderExists(full)) throw AppError("The specified path was not found");
    deleteContents(full);
    platform::setNormalAttributes(full);
    platform::removeFolder(full);
}

void moveFolder(const std::string& from, const std::string& to) {
    const std::string source = folderPath(from);
    const std::string target = folderPath(to);
    checkPathText(source);
    if (!platform::folderExists(source)) throw AppError("The specified path was not found");
    checkPathText(target);
    if (platform::folderExists(target)) throw AppError("The specified directory already exists");
    std::uint64_t sourceDevice = 0, targetDevice = 0;
    if (!platform::fileSystemOf(source, sourceDevice) || !nearestExistingDevice(target, targetDevice)) {
        throw AppError("The drive cannot be found");
    }
    if (sourceDevice != targetDevice) {
        throw AppError("The source and destination paths must contain the same root drive");
    }
    if (source == target) throw AppError("The source directory is the same as the destination directory");
    // Moving a folder into itself would chase its own new copies down the tree.
    if (isInside(target, source)) throw AppError("The destination directory is a subfolder of the source directory");

    // Every missing level of the target, then its last one must really be there.
    std::string level;
    for (std::size_t pos = 1; pos <= target.size(); ++pos) {
        if (pos == target.size() || target[pos] == kSeparator) {
            level = target.substr(0, pos);
            if (!platform::folderExists(level)) platform::createFolder(level);
        }
    }
    if (!platform::folderExists(target)) {
        const int error = platform::lastError() != 0 ? platform::lastError() : EEXIST;
        throw AppError("Cannot create folder \"" + target + "\". " + platform::systemErrorText(error));
    }

    std::string stuck;
    int stuckError = 0;
    moveContents(source, target, stuck, stuckError);
    platform::setNormalAttributes(source);
    platform::removeFolder(source);
    // A half-moved folder must not pass for a finished move.
    if (!stuck.empty()) {
        throw AppError("Cannot move file \"" + stuck + "\". " + platform::systemErrorText(stuckError));
    }
}

}  // namespace quill
