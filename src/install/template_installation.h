// Puts a downloaded template in place: its db.fdb becomes AppDbDir + "db.fdb" and
// its db folder DataDir + "db". A failed installation leaves both as they were.
#pragma once

#include "workspace/screen.h"
#include "workspace/signed_file.h"

#include <string>

namespace quill {

// The archive a downloaded FILE is unpacked from: the extension replaced by
// ".zip", kept when it already is ".zip" in any case.
std::string templateArchiveName(const std::string& fileName);

// Returns "db" on success and "" on failure. Shows its own error boxes, never
// raises. Sets AppDbDir; blocks input and shows the hourglass while it runs.
// A template whose unpacked archive and database copy do not fit on the disk
// is refused before anything is written (see checkFreeSpace).
// With verifiedArchive, unpacks what that descriptor reads instead of opening
// the archive by name: the bytes whose signature was checked.
std::string installTemplate(Screen& screen, const std::string& downloadedFile,
                            const SignedFile* verifiedArchive = nullptr);

}  // namespace quill
