#include "template_site.h"

#include "install/template_installation.h"
#include "platform/files.h"
#include "support/tree_snapshot.h"
#include "workspace/app/names.h"

#include <filesystem>
#include <sys/stat.h>
#include <gtest/gtest.h>

namespace quill::testing {
namespace {

using Events = std::vector<std::string>;

TEST(TemplateArchiveName, ReplacesTheExtensionButKeepsAnyZip) {
    EXPECT_EQ(templateArchiveName("/a/temp/sales.dat"), "/a/temp/sales.zip");
    EXPECT_EQ(templateArchiveName("/a/temp/sales"), "/a/temp/sales.zip");
    EXPECT_EQ(templateArchiveName("/a/temp/Sales.ZIP"), "/a/temp/Sales.ZIP");
    EXPECT_EQ(templateArchiveName("/a/temp/sales.zip"), "/a/temp/sales.zip");
    EXPECT_EQ(templateArchiveName("/a/t.d/sales"), "/a/t.d/sales.zip");
}

// A failed installation must leave the installed template and the backup of
// the one before it as they were, byte for byte.
class FailedInstallation : public ::testing::Test {
protected:
    FailedInstallation() {
        makeFolders(AppDir + "db/backup");
        makeFolders(DataDir + "backup/db");
        writeFile(AppDir + "db/backup/db.fdb", "older database");
        writeFile(DataDir + "backup/db/notes.txt", "older notes");
    }

    std::string install(const TemplateArchive& archive) {
        writeTemplateArchive(site.TempDir + "contacts.zip", archive);
        before = snapshotTree(AppDir);
        return installTemplate(site.screen, site.TempDir + "contacts.zip");
    }
    void expectNothingLost() {
        EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
        EXPECT_FALSE(site.screen.busy);
        EXPECT_FALSE(site.screen.blocked);
    }

    TemplateSite site;
    TreeSnapshot before;
};

TEST_F(FailedInstallation, ArchiveWithoutDatabaseFailsSilently) {
    TemplateArchive archive;
    archive.withDatabase = false;
    EXPECT_EQ(install(archive), "");
    EXPECT_TRUE(site.screen.boxes().empty());
    expectNothingLost();
}

// Unpacked into a work folder of its own, a template still never names the
// program's bookkeeping: it is refused before the journal is written.
TEST_F(FailedInstallation, EntriesNamingWhatTheProgramKeepsForItselfAreRefused) {
    for (const std::string name : {".final_inst.journal", ".final_inst.journal.new", ".upgr_work0/x.txt",
                                   "temp/temp.ini", "./TEMP/x.txt", "signing.ini"}) {
        SCOPED_TRACE(name);
        site.screen.events.clear();
        TemplateArchive archive;
        archive.otherFiles[name] = "theirs";
        EXPECT_EQ(install(archive), "");
        EXPECT_EQ(site.screen.boxes(), Events{"error:The template names a file the program keeps for itself: " + name});
        expectNothingLost();
    }
}

TEST_F(FailedInstallation, ArchiveWithoutDataFolderKeepsTheOldDatabase) {
    TemplateArchive archive;
    archive.withDataFolder = false;
    EXPECT_EQ(install(archive), "");
    EXPECT_EQ(site.screen.boxes(), Events{"error:The specified path was not found"});
    expectNothingLost();
}

TEST_F(FailedInstallation, DamagedArchiveKeepsEverything) {
    TemplateArchive archive;
    archive.damageLastDataFile = true;
    EXPECT_EQ(install(archive), "");
    ASSERT_EQ(site.screen.boxes().size(), 1u);
    expectNothingLost();
}

TEST_F(FailedInstallation, MissingArchiveAndWorkFolderRaiseNothing) {
    // No data folder: the work folder cannot be made and nothing is unpacked.
    std::filesystem::remove_all(DataDir);
    before = snapshotTree(AppDir);
    EXPECT_EQ(installTemplate(site.screen, site.TempDir + "missing.zip"), "");
    ASSERT_EQ(site.screen.boxes().size(), 1u);
    EXPECT_NE(site.screen.boxes()[0].find("Cannot open file"), std::string::npos) << site.screen.boxes()[0];
    expectNothingLost();
}

TEST_F(FailedInstallation, EmptyArchiveShowsStreamReadError) {
    writeFile(site.TempDir + "contacts.zip", "");
    before = snapshotTree(AppDir);
    EXPECT_EQ(installTemplate(site.screen, site.TempDir + "contacts.zip"), "");
    EXPECT_EQ(site.screen.boxes(), Events{"error:Stream read error"});
    expectNothingLost();
}

TEST_F(FailedInstallation, FailedCopyOfTheDatabaseFailsTheInstallation) {
    // Without AppDir + "db/" the database cannot be copied in.
    std::filesystem::remove_all(AppDir + "db");
    EXPECT_EQ(install(TemplateArchive{}), "");
    EXPECT_EQ(site.screen.boxes(), Events{"error:" + platform::systemErrorText(ENOENT)});
    expectNothingLost();
}

TEST_F(FailedInstallation, OldDatabaseThatCannotBeSetAsideGivesTheSystemsReason) {
    if (!setImmutable(AppDir + "db/db.fdb", true)) GTEST_SKIP() << "no immutable files here";
    const std::string result = install(TemplateArchive{});
    setImmutable(AppDir + "db/db.fdb", false);
    EXPECT_EQ(result, "");
    EXPECT_EQ(site.screen.boxes(), Events{"error:" + platform::systemErrorText(EPERM)});
    expectNothingLost();
}

TEST_F(FailedInstallation, OldDataFolderThatWillNotGiveWaySaysSo) {
    if (!setImmutable(DataDir + "db", true)) GTEST_SKIP() << "no immutable folders here";
    const std::string result = install(TemplateArchive{});
    setImmutable(DataDir + "db", false);
    EXPECT_EQ(result, "");
    EXPECT_EQ(site.screen.boxes(), Events{"error:The specified directory already exists"});
    expectNothingLost();
}

// What a run that died in the middle leaves: its work folder with part of a template.
void leaveWorkFolders(int except) {
    for (int n = 0; n < 100; ++n) {
        if (n == except) continue;
        const std::string folder = DataDir + "tmp" + std::to_string(n) + "/";
        makeFolders(folder + "db");
        writeFile(folder + "db.fdb", "half a database");
        writeFile(folder + "db/stray.txt", "from an earlier run");
    }
}

TEST_F(FailedInstallation, AllHundredWorkFoldersTakenTouchesNothing) {
    leaveWorkFolders(-1);
    writeTemplateArchive(site.TempDir + "contacts.zip", TemplateArchive{});
    before = snapshotTree(AppDir);
    EXPECT_EQ(installTemplate(site.screen, site.TempDir + "contacts.zip"), "");
    ASSERT_EQ(site.screen.boxes().size(), 1u);
    const std::string box = site.screen.boxes()[0];
    EXPECT_EQ(box.rfind("error:Cannot create folder \"" + DataDir + "tmp", 0), 0u) << box;
    EXPECT_EQ(box.substr(box.size() - 13), ". File exists") << box;
    expectNothingLost();
}

// The work folder of the running installation.
std::string workFolder() {
    for (const auto& entry : std::filesystem::directory_iterator(DataDir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("tmp", 0) == 0) return entry.path().string() + "/";
    }
    return {};
}

TEST_F(FailedInstallation, DatabaseThatCannotBeCopiedLeavesTheOldOnes) {
    // Right before the copy, the unpacked database turns out unreadable.
    int pumps = 0;
    site.screen.onPump = [&] {
        if (++pumps != 3) return;
        const std::string work = workFolder();
        std::filesystem::remove(work + "db.fdb");
        std::filesystem::create_directory(work + "db.fdb");
    };
    EXPECT_EQ(install(TemplateArchive{}), "");
    EXPECT_EQ(site.screen.boxes(), Events{"error:" + platform::systemErrorText(EISDIR)});
    expectNothingLost();
}

TEST(Installation, ReplacesAReadOnlyDatabaseAndLeavesNoWorkFolder) {
    TemplateSite site;
    platform::setReadOnly(AppDir + "db/db.fdb", true);
    writeTemplateArchive(site.TempDir + "contacts.zip", TemplateArchive{});
    EXPECT_EQ(installTemplate(site.screen, site.TempDir + "contacts.zip"), "db");
    EXPECT_EQ(AppDbDir, AppDir + "db/");
    EXPECT_EQ(treeDifferences({{"db.fdb", "new database"}, {"backup/", ""}, {"backup/db.fdb", "[read-only] old database"}},
                              snapshotTree(AppDir + "db/")),
              "");
    for (const auto& [path, bytes] : snapshotTree(DataDir)) {
        EXPECT_NE(path.rfind("tmp", 0), 0u) << path;
    }
}

TEST(Installation, WorkFoldersLeftByAnEarlierRunAreNeitherMergedNorDeleted) {
    TemplateSite site;
    leaveWorkFolders(42);
    const TreeSnapshot leftovers = snapshotTree(DataDir);
    writeTemplateArchive(site.TempDir + "contacts.zip", TemplateArchive{});
    EXPECT_EQ(installTemplate(site.screen, site.TempDir + "contacts.zip"), "db");
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(readFile(AppDir + "db/db.fdb"), "new database");
    EXPECT_EQ(treeDifferences({{"a.frm", "form a"}}, snapshotTree(DataDir + "db/forms/")), "");
    EXPECT_FALSE(platform::pathExists(DataDir + "db/stray.txt"));
    // Every leftover as it was, and this run's own folder gone.
    const auto workFolders = [](TreeSnapshot tree) {
        std::erase_if(tree, [](const auto& entry) { return entry.first.rfind("tmp", 0) != 0; });
        return tree;
    };
    EXPECT_EQ(treeDifferences(workFolders(leftovers), workFolders(snapshotTree(DataDir))), "");
}

// An update's backups are no template's business: a template may hold a
// folder of that name like any other.
TEST(Installation, NamesOnlyAnUpdateKeepsAreATemplatesToUse) {
    TemplateSite site;
    TemplateArchive archive;
    archive.otherFiles = {{"upgr_bak/readme.txt", "read me"}};
    writeTemplateArchive(site.TempDir + "contacts.zip", archive);
    EXPECT_EQ(installTemplate(site.screen, site.TempDir + "contacts.zip"), "db");
    EXPECT_TRUE(site.screen.boxes().empty());
}

// Nothing an installation replaces is lost: the pair it replaced is the
// backup, the very files moved there, and the backup before it goes.
TEST(InstallationBackup, HoldsThePairTheLastInstallationReplaced) {
    TemplateSite site;
    TemplateArchive first;
    first.database = "first database";
    first.dataFiles = {{"notes.txt", "first notes"}, {"forms/first.frm", "first form"}};
    writeTemplateArchive(site.TempDir + "first.zip", first);
    writeTemplateArchive(site.TempDir + "second.zip", TemplateArchive{});
    ASSERT_EQ(installTemplate(site.screen, site.TempDir + "first.zip"), "db");
    // The user's own work in the first template.
    writeFile(DataDir + "db/mine.txt", "the user's file");
    struct stat database {}, dataFolder {};
    ASSERT_EQ(::stat((AppDir + "db/db.fdb").c_str(), &database), 0);
    ASSERT_EQ(::stat((DataDir + "db").c_str(), &dataFolder), 0);

    ASSERT_EQ(installTemplate(site.screen, site.TempDir + "second.zip"), "db");
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(treeDifferences({{"db.fdb", "new database"}, {"backup/", ""}, {"backup/db.fdb", "first database"}},
                              snapshotTree(AppDir + "db/")),
              "");
    const TreeSnapshot data{{"db/", ""},
                            {"db/forms/", ""},
                            {"db/forms/a.frm", "form a"},
                            {"db/notes.txt", "new notes"},
                            {"backup/", ""},
                            {"backup/db/", ""},
                            {"backup/db/forms/", ""},
                            {"backup/db/forms/first.frm", "first form"},
                            {"backup/db/mine.txt", "the user's file"},
                            {"backup/db/notes.txt", "first notes"},
                            {"templates.ini", "[Templates]\r\nMain=old\r\nOther=1\r\n"}};
    EXPECT_EQ(treeDifferences(data, snapshotTree(DataDir)), "");
    // Moved, not copied: a program holding the old database open still writes to the kept one.
    struct stat kept {};
    ASSERT_EQ(::stat((AppDir + "db/backup/db.fdb").c_str(), &kept), 0);
    EXPECT_EQ(kept.st_ino, database.st_ino);
    ASSERT_EQ(::stat((DataDir + "backup/db").c_str(), &kept), 0);
    EXPECT_EQ(kept.st_ino, dataFolder.st_ino);
}

TEST(InstallationBackup, IsOneInstallationsPairNeverHalvesOfTwo) {
    TemplateSite site;
    makeFolders(AppDir + "db/backup");
    makeFolders(DataDir + "backup/db");
    writeFile(AppDir + "db/backup/db.fdb", "older database");
    writeFile(DataDir + "backup/db/notes.txt", "older notes");
    std::filesystem::remove_all(DataDir + "db");
    writeTemplateArchive(site.TempDir + "contacts.zip", TemplateArchive{});
    ASSERT_EQ(installTemplate(site.screen, site.TempDir + "contacts.zip"), "db");
    EXPECT_EQ(readFile(AppDir + "db/backup/db.fdb"), "old database");
    EXPECT_EQ(treeDifferences({}, snapshotTree(DataDir + "backup/")), "");

    // Nothing in place to keep: the backup stays as it is.
    std::filesystem::remove(AppDir + "db/db.fdb");
    std::filesystem::remove_all(DataDir + "db");
    const TreeSnapshot backup = snapshotTree(AppDir + "db/backup/");
    ASSERT_EQ(installTemplate(site.screen, site.TempDir + "contacts.zip"), "db");
    EXPECT_EQ(treeDifferences(backup, snapshotTree(AppDir + "db/backup/")), "");
}

TEST(Installation, MissingDataFolderIsMade) {
    TemplateSite site;
    std::filesystem::remove_all(DataDir);
    writeTemplateArchive(site.TempDir + "contacts.zip", TemplateArchive{});
    EXPECT_EQ(installTemplate(site.screen, site.TempDir + "contacts.zip"), "db");
    EXPECT_EQ(readFile(DataDir + "db/notes.txt"), "new notes");
}

}  // namespace
}  // namespace quill::testing
