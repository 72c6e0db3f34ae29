// Program files keep the right to run across an update: each file gets its
// entry's Unix mode, or the mode of the file it replaces.
#include "update_site.h"

#include "platform/files.h"
#include "support/child_program.h"
#include "support/tree_snapshot.h"
#include "workspace/app/names.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quill::testing {
namespace {

TEST(ProgramUpdateModes, AnArchiveMadeByZipOnUnixInstallsProgramsThatRun) {
    UpdateSite site;
    writeFile(AppDir + "final_inst", "#!/bin/sh\necho \"final_inst 1.0\"\n");
    platform::setPermissions(AppDir + "final_inst", 0755);
    writeFile(AppDir + "readme.txt", "old readme");
    // zip -r of a tree with a 0755 program, a 0755 script and a 0600 file.
    site.server.serveBytes("/update/upd.zip", readFile(std::string(QUILL_ZIP_FIXTURES) + "modes.zip"));
    site.update.offeredFileName = "upd.zip";
    site.update.installUpdate(site.screen, site.http);
    ASSERT_TRUE(site.screen.closed) << (site.screen.boxes().empty() ? "" : site.screen.boxes()[0]);

    const TreeSnapshot expected{
        {"final_inst", withMode(underUmask(0755), "#!/bin/sh\necho \"final_inst 1.1\"\n")},
        {"bin/", ""},
        {"bin/run.sh", withMode(underUmask(0755), "#!/bin/sh\necho \"run.sh ran\"\n")},
        {"secret.ini", withMode(0600, "password=owner-only\n")},
        {"readme.txt", withMode(underUmask(0644), "read me\n")},
        {"upgr_bak/", ""},
        {"upgr_bak/final_inst", withMode(0755, "#!/bin/sh\necho \"final_inst 1.0\"\n")},
        {"upgr_bak/readme.txt", "old readme"}};
    EXPECT_EQ(treeDifferences(expected, snapshotTree(AppDir)), "");
    EXPECT_EQ(outputOf("'" + AppDir + "final_inst'"), "final_inst 1.1\n");
    EXPECT_EQ(outputOf("'" + AppDir + "bin/run.sh'"), "run.sh ran\n");
}

TEST(ProgramUpdateModes, FilesWithoutAModeOfTheirOwnTakeTheModeOfTheFilesTheyReplace) {
    UpdateSite site;
    writeFile(AppDir + "run.sh", "#!/bin/sh\necho old\n");
    platform::setPermissions(AppDir + "run.sh", 0750);
    writeFile(AppDir + "upgr_bak/run.sh", "an earlier backup");  // replaced without backup this time
    writeFile(AppDir + "secret.ini", "old secret");
    platform::setPermissions(AppDir + "secret.ini", 0600);
    // Made as on DOS: no entry carries a mode.
    site.serveArchive("upd.zip", {{"run.sh", "#!/bin/sh\necho new\n"}, {"secret.ini", "new secret"}, {"new.txt", "new"}});
    site.update.installUpdate(site.screen, site.http);
    ASSERT_TRUE(site.screen.closed) << (site.screen.boxes().empty() ? "" : site.screen.boxes()[0]);

    const TreeSnapshot expected{{"run.sh", withMode(0750, "#!/bin/sh\necho new\n")},
                                {"secret.ini", withMode(0600, "new secret")},
                                {"new.txt", withMode(underUmask(0666), "new")},
                                {"upgr_bak/", ""},
                                {"upgr_bak/run.sh", "an earlier backup"},
                                {"upgr_bak/secret.ini", withMode(0600, "old secret")}};
    EXPECT_EQ(treeDifferences(expected, snapshotTree(AppDir)), "");
    EXPECT_EQ(outputOf("'" + AppDir + "run.sh'"), "new\n");
}

}  // namespace
}  // namespace quill::testing
