#include "update/file_replacement.h"

#include "platform/error.h"
#include "platform/files.h"
#include "workspace/file_ops.h"
#include "workspace/path_rules.h"
#include "workspace/zip_names.h"

#include <cerrno>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace quill {

namespace {

constexpr char kSep = platform::kSeparator;

bool isFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(path, ec));
}

// A rename within appDir: never a copy, so it cannot be half done.
void renameOrRaise(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) throw AppError(platform::systemErrorText(ec.value()));
}

void renameQuietly(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
}

}  // namespace

FileReplacement::FileReplacement(std::string appDir, std::string backupDir)
    : appDir_(std::move(appDir)), backupDir_(std::move(backupDir)) {}

FileReplacement::~FileReplacement() {
    rollback();
    if (!workFolder_.empty()) {
        std::error_code ec;
        fs::remove_all(workFolder_, ec);
    }
}

const std::string& FileReplacement::workFolder() {
    if (workFolder_.empty()) {
        // Inside appDir, so that every later move is a rename on one file system.
        for (int n = 0;; ++n) {
            const std::string candidate = appDir_ + ".upgr_work" + std::to_string(n) + kSep;
            if (platform::pathExists(candidate)) continue;
            if (!platform::createFolder(candidate)) throw AppError(platform::systemErrorText(platform::lastError()));
            workFolder_ = candidate;
            break;
        }
    }
    return workFolder_;
}

void FileReplacement::keepAside(const std::string& path) {
    if (!platform::fileExists(path)) return;
    const std::string aside = workFolder() + "aside" + std::to_string(asideCount_++);
    renameOrRaise(path, aside);
    undo_.push_back([=] { renameQuietly(aside, path); });
}

void FileReplacement::stage(ZipReader& reader) {
    stageFolder_ = workFolder() + "stage" + kSep;
    if (!platform::pathExists(stageFolder_) && !platform::createFolder(stageFolder_)) {
        throw AppError(platform::systemErrorText(platform::lastError()));
    }
    for (std::size_t i = 0; i < reader.count(); ++i) {
        reader.extract(i, stageFolder_);
    }
}

void FileReplacement::backUp(const std::string& name) {
    // Read as the unpacking reads it, so the file backed up is the file replaced.
    const std::string path = entryPath(name);
    const std::string current = appDir_ + path;
    if (!platform::fileExists(current)) return;
    const std::string backup = backupDir_ + path;
    if (!platform::moveFile(current, backup)) return;
    undo_.push_back([=] { platform::moveFile(backup, current); });
}

// Creates the missing levels of `folder` below appDir, each undone on rollback.
void FileReplacement::ensureFolders(const std::string& folder, const std::string& target) {
    if (folder.size() <= appDir_.size()) return;
    if (isFolder(folder)) return;
    if (platform::pathExists(folder)) throw AppError(cannotCreateFileText(target, ENOTDIR));
    ensureFolders(parentFolderOf(folder), target);
    if (!platform::createFolder(folder)) throw AppError(cannotCreateFileText(target, platform::lastError()));
    undo_.push_back([=] { platform::removeFolder(folder); });
}

void FileReplacement::place(const std::vector<ZipEntry>& entries) {
    std::set<std::string> placed;
    for (const auto& entry : entries) {
        const std::string target = ZipReader::targetPathFor(appDir_, entry.name);
        if (entry.isFolder()) {
            ensureFolders(target.back() == kSep ? target : target + kSep, target);
            continue;
        }
        // A name stored twice was staged once, holding its last copy.
        if (!placed.insert(target).second) continue;
        ensureFolders(parentFolderOf(target), target);
        if (platform::pathExists(target)) {
            if (isFolder(target)) throw AppError(cannotCreateFileText(target, EISDIR));
            if (const int error = whyNotWritable(target)) throw AppError(cannotCreateFileText(target, error));
            const std::string aside = workFolder() + "aside" + std::to_string(asideCount_++);
            renameOrRaise(target, aside);
            undo_.push_back([=] { renameQuietly(aside, target); });
        }
        const std::string staged = ZipReader::targetPathFor(stageFolder_, entry.name);
        renameOrRaise(staged, target);
        undo_.push_back([=] { renameQuietly(target, staged); });
    }
}

void FileReplacement::commit() { undo_.clear(); }

void FileReplacement::rollback() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
        try {
            (*it)();
        } catch (...) {
            // Put back as much as can be put back.
        }
    }
    undo_.clear();
}

}  // namespace quill
