// The names the program keeps for itself in the folder a change unpacks over:
// its journal, a change's work folders, the update's backups, the catalogue's
// folder and what was accepted of the vendor's signings. An archive's entry
// that took one of them would be undone, deleted or read by the program's own
// bookkeeping instead of installed.
#pragma once

#include "workspace/change/change_journal.h"
#include "workspace/transfer/zip_reader.h"

#include <string>
#include <vector>

namespace quill {

inline const std::string kUpdateWorkFolderStem = ".upgr_work";  // followed by a number
inline const std::string kUpdateBackupFolderName = "upgr_bak";

// True when the relative path (as entryPath gives it) is, or lies in, a name
// a change of this kind keeps for itself; upgr_bak only for an update. Letter
// case, and dots and blanks that end a name, do not tell names apart, as they
// do not on Windows.
bool isKeptForItself(const std::string& relativePath, ChangeKind kind);

// Raises "The update names a file the program keeps for itself: <name>" (or
// "The template names ...") for the first entry, by its stored name, that
// isKeptForItself; "Unsafe entry name: <name>" for one that leaves its folder.
void refuseNamesKeptForItself(const std::vector<ZipEntry>& entries, ChangeKind kind);

}  // namespace quill
