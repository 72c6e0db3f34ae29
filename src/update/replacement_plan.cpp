#include "update/replacement_plan.h"

#include "platform/error.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "workspace/change/file_ops.h"
#include "workspace/app/path_rules.h"
#include "workspace/transfer/zip_names.h"

#include <cerrno>

namespace quill {

namespace {

constexpr char kSep = platform::kSeparator;

std::string withoutSeparator(std::string path) {
    while (path.size() > 1 && path.back() == kSep) path.pop_back();
    return path;
}

}  // namespace

ReplacementPlan::ReplacementPlan(std::string appDir, std::string backupDir, std::string asideFolder,
                                 std::string stageFolder)
    : appDir_(std::move(appDir)), backupDir_(std::move(backupDir)), asideFolder_(std::move(asideFolder)),
      stageFolder_(std::move(stageFolder)) {}

ReplacementPlan::Kind ReplacementPlan::kindOf(const std::string& path) const {
    const std::string key = withoutSeparator(path);
    if (const auto it = planned_.find(key); it != planned_.end()) return it->second;
    platform::FileStatus status;
    if (!platform::linkStatusOf(key, status)) return Kind::Absent;
    return status.kind == platform::FileKind::folder ? Kind::Folder : Kind::File;
}

// The rename into upgr_bak replaces nothing and makes no folders; a backup it
// could not make would fail the whole burst, so the file is then replaced
// without backup, as it always was when its backup could not be made.
bool ReplacementPlan::takesBackup(const std::string& backup) const {
    const std::string folder = parentFolderOf(backup);
    return kindOf(backup) == Kind::Absent && kindOf(folder) == Kind::Folder &&
           ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// The missing levels of `folder` below the application folder.
void ReplacementPlan::planFolders(const std::string& folder, const std::string& target) {
    if (folder.size() <= appDir_.size()) return;
    const Kind kind = kindOf(folder);
    if (kind == Kind::Folder) return;
    if (kind == Kind::File) throw AppError(cannotCreateFileText(target, ENOTDIR));
    planFolders(parentFolderOf(folder), target);
    burst_.makeFolder(withoutSeparator(folder));
    planned_[withoutSeparator(folder)] = Kind::Folder;
}

void ReplacementPlan::add(const ZipEntry& entry) {
    const std::string target = ZipReader::targetPathFor(appDir_, entry.name);
    if (entry.isFolder()) {
        planFolders(target.back() == kSep ? target : target + kSep, target);
        return;
    }
    if (!placed_.insert(target).second) return;

    // Read as the unpacking reads it, so the file backed up is the file replaced.
    if (kindOf(target) == Kind::File) {
        const std::string backup = backupDir_ + entryPath(entry.name);
        if (takesBackup(backup)) {
            burst_.move(target, backup);
            planned_[target] = Kind::Absent;
            planned_[backup] = Kind::File;
        }
    }
    planFolders(parentFolderOf(target), target);
    switch (kindOf(target)) {
    case Kind::Folder:
        throw AppError(cannotCreateFileText(target, EISDIR));
    case Kind::File:
        if (const int error = whyNotWritable(target)) throw AppError(cannotCreateFileText(target, error));
        burst_.keepAside(target, asideFolder_ + "aside" + std::to_string(asideCount_++));
        break;
    case Kind::Absent:
        break;
    }
    burst_.move(ZipReader::targetPathFor(stageFolder_, entry.name), target);
    planned_[target] = Kind::File;
}

}  // namespace quill
