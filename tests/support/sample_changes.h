// Two changes of an application folder shaped like the real installation and
// update (work folders, a copy, files kept aside, backups, a burst of renames),
// with names holding line breaks, tabs and backslashes. The journal's tests
// and the crash harness run them and compare the folder with what is expected.
#pragma once

#include "support/tree_snapshot.h"

#include <string>

namespace quill::testing {

// The folder as the organizer's setup and an earlier template left it.
void makeSampleAppFolder(const std::string& app);

// A template's db.fdb copied to db/db.fdb and its db folder moved to data/db,
// the old ones kept aside until the commit.
void runSampleInstallation(const std::string& app);
TreeSnapshot afterSampleInstallation(const TreeSnapshot& before);

// New program files moved into place in one burst, the replaced ones moved to
// upgr_bak when they can be and kept aside otherwise.
void runSampleUpdate(const std::string& app);
TreeSnapshot afterSampleUpdate(const TreeSnapshot& before);

// The archives of the real changes. A template: its db.fdb, its db folder
// (notes.txt and forms/a.frm) and a file the installation leaves in the work folder.
void writeSampleTemplateArchive(const std::string& path, const std::string& database = "new database",
                                const std::string& notes = "new notes");
// An update, after the sample folder: one file backed up, one whose backup
// name is taken, one in a folder upgr_bak lacks, a new file in a new folder
// and a folder entry. The program has no Unix mode of its own, readme.txt
// 0600 and help/manual.txt 0700. The bytes of the archive.
std::string sampleUpdateArchive(const std::string& program = "program 1.1");

}  // namespace quill::testing
