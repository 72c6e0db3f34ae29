// Puts a downloaded template in place: its db.fdb becomes AppDbDir + "db.fdb" and
// its db folder DataDir + "db". The pair they replace is kept, moved into
// AppDbDir + "backup/db.fdb" and DataDir + "backup/db", in place of the pair an
// earlier installation kept there. A failed installation leaves all as it was.
#pragma once

#include "workspace/app/screen.h"
#include "workspace/trust/signed_file.h"

#include <string>

namespace quill {

// The archive a downloaded FILE is unpacked from: the extension replaced by
// ".zip", kept when it already is ".zip" in any case.
std::string templateArchiveName(const std::string& fileName);

// Where the installation keeps what it replaced from `folder` (AppDbDir or
// DataDir): a sub-folder beside the installed pair, not inside the data folder
// a template fills, and no "*.fdb" file that could pass for a database.
std::string templateBackupFolder(const std::string& folder);

// Returns "db" on success and "" on failure. Shows its own error boxes, never
// raises. Sets AppDbDir; blocks input and shows the hourglass while it runs.
// A template whose unpacked archive and database copy do not fit on the disk
// is refused before anything is written (see checkFreeSpace).
// With verifiedArchive, unpacks what that descriptor reads instead of opening
// the archive by name: the bytes whose signature was checked.
std::string installTemplate(Screen& screen, const std::string& downloadedFile,
                            const SignedFile* verifiedArchive = nullptr);

}  // namespace quill
