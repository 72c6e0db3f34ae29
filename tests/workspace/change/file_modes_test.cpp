// Copies made whole carry the permission bits of what they copy: a program
// copied into place must still run, a file for the owner alone stays so.
#include "workspace/change/file_ops.h"
#include "workspace/change/folder_change.h"

#include "support/temp_folder.h"
#include "support/tree_snapshot.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace quill {
namespace {

using testing::readFile;
using testing::snapshotTree;
using testing::TempFolder;
using testing::treeDifferences;
using testing::withMode;
using testing::writeFile;

TEST(FileModes, CopiesMadeWholeAndCopiesOfAChangeKeepTheModeOfTheirSource) {
    TempFolder app;
    writeFile(app / "tool.sh", "#!/bin/sh\n");
    std::filesystem::permissions(app / "tool.sh", std::filesystem::perms(0750));
    writeFile(app / "secret.ini", "secret");
    std::filesystem::permissions(app / "secret.ini", std::filesystem::perms(0600));
    copyFileWhole(app / "secret.ini", app / "secret copy.ini");
    {
        FolderChange change(app.path(), ChangeKind::Update);
        change.copy(app / "tool.sh", app / "tool copy.sh");
        change.commit();
    }
    const testing::TreeSnapshot expected{{"tool.sh", withMode(0750, "#!/bin/sh\n")},
                                         {"tool copy.sh", withMode(0750, "#!/bin/sh\n")},
                                         {"secret.ini", withMode(0600, "secret")},
                                         {"secret copy.ini", withMode(0600, "secret")}};
    EXPECT_EQ(treeDifferences(expected, snapshotTree(app.path())), "");
}

}  // namespace
}  // namespace quill
