// The replacement of program files by an update's staged entries, planned
// entry by entry while the update's paced step runs and then carried out as
// one burst of renames, so the folder is mixed only while the renames run.
#pragma once

#include "workspace/change/folder_change.h"
#include "workspace/transfer/zip_reader.h"

#include <map>
#include <set>
#include <string>

namespace quill {

class ReplacementPlan {
public:
    // Every folder ends in a separator: the application folder, its backup
    // folder, a folder of the change for files replaced without backup, and
    // the folder holding every entry unpacked. Nothing is touched.
    ReplacementPlan(std::string appDir, std::string backupDir, std::string asideFolder, std::string stageFolder);

    // Plans one entry as the disk and the entries planned before it leave the
    // folder. The file it replaces moves to the same path under backupDir when
    // that name is free there and its folder exists and takes new names, and
    // aside otherwise (replaced without backup); missing folders are made; the
    // staged file moves in. A folder entry only makes folders, and a name
    // planned before is passed over (it was staged once, with its last copy).
    // Raises AppError with targetPathFor's texts, or "Cannot create file ..."
    // for a folder in the way, a file where a folder must be, or a file that
    // cannot be written over (read-only, held by another program).
    void add(const ZipEntry& entry);

    const FolderChange::Burst& burst() const { return burst_; }

private:
    enum class Kind { Absent, File, Folder };
    Kind kindOf(const std::string& path) const;
    bool takesBackup(const std::string& backup) const;
    void planFolders(const std::string& folder, const std::string& target);

    std::string appDir_;
    std::string backupDir_;
    std::string asideFolder_;
    std::string stageFolder_;
    FolderChange::Burst burst_;
    // What the burst will have done to a path, in place of what the disk shows now.
    std::map<std::string, Kind> planned_;
    std::set<std::string> placed_;
    int asideCount_ = 0;
};

}  // namespace quill
