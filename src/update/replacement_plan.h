// Replaces files of the application folder with an archive's entries so that
// every change can be undone until the whole replacement has gone through.
#pragma once

#include "workspace/zip_reader.h"

#include <functional>
#include <string>
#include <vector>

namespace quill {

class FileReplacement {
public:
    // appDir and backupDir end in a separator. Nothing is touched yet.
    FileReplacement(std::string appDir, std::string backupDir);
    // Undoes what was not committed and removes the work folder.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Moves an existing regular file out of the way; it comes back on rollback and is
    // gone after commit. Raises AppError with the system's text.
    void keepAside(const std::string& path);

    // Unpacks every entry into the work folder first, so a damaged entry fails
    // here, before anything in appDir changes. Raises the unpacking texts.
    void stage(ZipReader& reader);

    // Moves the file an entry name stands for under appDir to the same relative
    // path under backupDir when that file exists; a move that fails (name taken,
    // folder missing) leaves the file to be replaced without backup.
    void backUp(const std::string& name);

    // Puts every staged entry in place, creating folders. Raises AppError with the
    // text the unpacking would give for a file or folder in the way.
    void place(const std::vector<ZipEntry>& entries);

    // Keeps every change; the replaced files without backup and the work folder go.
    void commit();
    // Puts back everything changed so far, newest first. Never raises.
    void rollback();

private:
    const std::string& workFolder();
    void ensureFolders(const std::string& folder, const std::string& target);

    std::string appDir_;
    std::string backupDir_;
    std::string workFolder_;
    std::string stageFolder_;
    std::vector<std::function<void()>> undo_;
    int asideCount_ = 0;
};

}  // namespace quill
