// A template's files keep the modes they should have: the database its old
// one had, unless the archive records modes of its own.
#include "template_site.h"

#include "install/template_installation.h"
#include "platform/files.h"
#include "support/tree_snapshot.h"
#include "vendorkit/zip_writer.h"
#include "workspace/app/names.h"

#include <gtest/gtest.h>

namespace quill::testing {
namespace {

TEST(TemplateModes, TheDatabaseKeepsItsModeAndDataFilesTakeTheirEntrys) {
    TemplateSite site;
    platform::setPermissions(AppDir + "db/db.fdb", 0600);  // the user's data, for the user alone
    {
        vendorkit::ZipWriter zip(site.TempDir + "contacts.zip");
        zip.addFile("db.fdb", "new database");  // made on DOS: no mode of its own
        zip.addFolder("db/");
        vendorkit::ZipEntryOptions runs;
        runs.unixMode = 0700;
        zip.addFile("db/export.sh", "#!/bin/sh\n", runs);
        zip.addFile("db/notes.txt", "new notes");
    }
    ASSERT_EQ(installTemplate(site.screen, site.TempDir + "contacts.zip"), "db");
    EXPECT_EQ(treeDifferences({{"db.fdb", withMode(0600, "new database")},
                               {"backup/", ""},
                               {"backup/db.fdb", withMode(0600, "old database")}},
                              snapshotTree(AppDir + "db/")),
              "");
    // The old notes.txt goes with the old folder; this one is new.
    EXPECT_EQ(treeDifferences({{"export.sh", withMode(0700, "#!/bin/sh\n")}, {"notes.txt", "new notes"}},
                              snapshotTree(DataDir + "db/")),
              "");
}

}  // namespace
}  // namespace quill::testing
