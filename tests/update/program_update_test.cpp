#include "update_site.h"

#include "platform/files.h"
#include "support/tree_snapshot.h"
#include "support/test_vendor_key.h"
#include "workspace/app/names.h"
#include "workspace/trust/signature.h"

#include <algorithm>
#include <filesystem>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>

namespace quill::testing {
namespace {

using Events = std::vector<std::string>;

Events progressEvents(const Events& events) {
    Events out;
    for (const auto& e : events) {
        if (e.rfind("progress:pos:", 0) == 0 || e.rfind("status:", 0) == 0) out.push_back(e);
    }
    return out;
}

TEST(ProgramUpdateSucceeds, BacksUpReplacedFilesAndUnpacksOverTheFolder) {
    UpdateSite site;
    writeFile(AppDir + "a.txt", "old a");
    makeFolders(AppDir + "help");
    writeFile(AppDir + "help/manual.chm", "old manual");
    makeFolders(AppDir + "plugins");
    writeFile(AppDir + "plugins/p.dll", "old p");
    site.serveArchive("upd.zip", {{"a.txt", "new a"},
                                  {"new.txt", "new file"},
                                  {"help/manual.chm", "new manual"},  // upgr_bak has no help/: no backup
                                  {"plugins/", ""},                   // a folder entry is never moved
                                  {"plugins/q.dll", "new q"}});
    site.update.installUpdate(site.screen, site.http);

    const TreeSnapshot expected{{"a.txt", "new a"},           {"new.txt", "new file"},
                                {"help/", ""},                {"help/manual.chm", "new manual"},
                                {"plugins/", ""},             {"plugins/p.dll", "old p"},
                                {"plugins/q.dll", "new q"},   {"upgr_bak/", ""},
                                {"upgr_bak/a.txt", "old a"}};
    EXPECT_EQ(treeDifferences(expected, snapshotTree(AppDir)), "");

    Events expectedEvents{"block:1", "progress:show", "progress:bar:1",
                          "progress:label:Downloading Latest Program Version...", "progress:pos:0",
                          "status:Downloading Latest Program Version...", "pump", "transfer:shown", "transfer:end",
                          "progress:pos:50", "pump",
                          "status:Extracting Latest Program Version..."};
    for (int i = 0; i < 5; ++i) expectedEvents.push_back("pump");  // one per entry
    for (const char* e : {"progress:pos:100", "progress:free", "status:The program files installed successfully.",
                          "info:The program files installed successfully.", "close", "block:0"}) {
        expectedEvents.push_back(e);
    }
    EXPECT_EQ(site.screen.events, expectedEvents);
}

// Bytes that do not deflate, so the archive is as big as they are.
std::string noise(std::size_t size) {
    std::mt19937 random(15);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

TEST(ProgramUpdateSucceeds, TheProgressBarFollowsTheDownloadToHalfway) {
    UpdateSite site;
    site.serveArchive("upd.zip", {{"a.txt", noise(1 << 20)}});
    site.server.throttle(800 * 1024);
    site.update.installUpdate(site.screen, site.http);
    EXPECT_TRUE(site.screen.closed);

    std::vector<int> positions;
    for (const auto& moment : site.screen.duringTransfer)
        if (moment.event.rfind("progress:pos:", 0) == 0) positions.push_back(std::stoi(moment.event.substr(13)));
    ASSERT_GE(positions.size(), 5u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_LE(positions.back(), 50);
    EXPECT_TRUE(std::any_of(positions.begin(), positions.end(), [](int p) { return p > 0 && p < 50; }));
    EXPECT_EQ(progressEvents(site.screen.events),
              (Events{"progress:pos:0", "status:Downloading Latest Program Version...", "progress:pos:50",
                      "status:Extracting Latest Program Version...", "progress:pos:100",
                      "status:The program files installed successfully."}));
}

TEST(ProgramUpdateSucceeds, SecondUpdateKeepsTheFirstBackup) {
    UpdateSite site;
    writeFile(AppDir + "a.txt", "second");
    writeFile(AppDir + "upgr_bak/a.txt", "first");
    site.serveArchive("upd.zip", {{"a.txt", "third"}});
    site.update.installUpdate(site.screen, site.http);
    EXPECT_EQ(readFile(AppDir + "a.txt"), "third");
    EXPECT_EQ(readFile(AppDir + "upgr_bak/a.txt"), "first");
    EXPECT_TRUE(site.screen.closed);
}

TEST(ProgramUpdateSucceeds, SubfolderFileIsBackedUpWhenTheBackupHasTheSubfolder) {
    UpdateSite site;
    makeFolders(AppDir + "help");
    makeFolders(AppDir + "upgr_bak/help");
    writeFile(AppDir + "help/manual.chm", "old manual");
    writeFile(AppDir + "upd.zip", "an earlier archive");
    site.serveArchive("upd.zip", {{"help/manual.chm", "new manual"}});
    site.update.installUpdate(site.screen, site.http);
    EXPECT_EQ(readFile(AppDir + "help/manual.chm"), "new manual");
    EXPECT_EQ(readFile(AppDir + "upgr_bak/help/manual.chm"), "old manual");
    // A file the update did not make, whatever the site calls its archive.
    EXPECT_EQ(readFile(AppDir + "upd.zip"), "an earlier archive");
}

TEST(ProgramUpdateSucceeds, BackslashNamesAreBackedUpWhereTheyAreUnpacked) {
    // Archives made on Windows may separate levels with "\\".
    UpdateSite site;
    makeFolders(AppDir + "help");
    makeFolders(AppDir + "upgr_bak/help");
    writeFile(AppDir + "help/manual.chm", "old manual");
    site.serveArchive("upd.zip", {{"help\\", ""}, {"help\\manual.chm", "new manual"}});
    site.update.installUpdate(site.screen, site.http);
    const TreeSnapshot expected{{"help/", ""},
                                {"help/manual.chm", "new manual"},
                                {"upgr_bak/", ""},
                                {"upgr_bak/help/", ""},
                                {"upgr_bak/help/manual.chm", "old manual"}};
    EXPECT_EQ(treeDifferences(expected, snapshotTree(AppDir)), "");
    EXPECT_TRUE(site.screen.closed);
}

TEST(ProgramUpdateSucceeds, ArchiveNamedInASubfolderIsFetchedFromThereAndKeptInTheWorkFolder) {
    // "." and empty levels read as the entry names' rule reads them.
    for (const std::string name : {"sub/upd.zip", "./sub//upd.zip"}) {
        UpdateSite site;
        makeFolders(AppDir + "sub");
        writeFile(AppDir + "a.txt", "old a");
        writeFile(AppDir + "sub/upd.zip", "not the update's");
        site.serveArchive("sub/upd.zip", {{"a.txt", "new a"}});
        site.update.offeredFileName = name;
        bool savedInWorkFolder = false;
        site.screen.onPump = [&] {
            savedInWorkFolder = savedInWorkFolder || platform::fileExists(AppDir + ".upgr_work0/update.zip");
        };
        site.update.installUpdate(site.screen, site.http);
        EXPECT_TRUE(savedInWorkFolder) << name;
        const TreeSnapshot expected{{"a.txt", "new a"}, {"sub/", ""}, {"sub/upd.zip", "not the update's"},
                                    {"upgr_bak/", ""}, {"upgr_bak/a.txt", "old a"}};
        EXPECT_EQ(treeDifferences(expected, snapshotTree(AppDir)), "") << name;
        EXPECT_EQ(site.requestsFor("/update/sub/upd.zip"), 1) << name;
        EXPECT_TRUE(site.screen.closed) << name;
    }
}

TEST(ProgramUpdateSucceeds, TheFolderStaysAsItWasUntilThePacedStepIsOver) {
    UpdateSite site;
    writeFile(AppDir + "a.txt", "old a");
    site.serveArchive("upd.zip", {{"a.txt", "new a"}, {"sub/b.txt", "new b"}, {"c.txt", "new c"}});
    const TreeSnapshot before = snapshotTree(AppDir);
    // What the running change keeps for itself: its journal, work folder and download.
    const auto programFiles = [](TreeSnapshot tree) {
        std::erase_if(tree, [](const auto& entry) {
            return entry.first.rfind(".final_inst.journal", 0) == 0 || entry.first.rfind(".upgr_work", 0) == 0 ||
                   entry.first == "upd.zip";
        });
        return tree;
    };
    int pumps = 0;
    site.screen.onPump = [&] {
        ++pumps;
        EXPECT_EQ(treeDifferences(before, programFiles(snapshotTree(AppDir))), "") << "at pump " << pumps;
    };
    site.update.installUpdate(site.screen, site.http);
    EXPECT_EQ(pumps, 5);
    EXPECT_EQ(readFile(AppDir + "sub/b.txt"), "new b");
    EXPECT_TRUE(site.screen.closed);
}

// A failed update must leave the application folder and upgr_bak as they were.
class FailedProgramUpdate : public ::testing::Test {
protected:
    FailedProgramUpdate() {
        writeFile(AppDir + "a.txt", "old a");
        writeFile(AppDir + "b.txt", "old b");
        writeFile(AppDir + "upd.zip", "an earlier archive");
        makeFolders(AppDir + "help");
        writeFile(AppDir + "upgr_bak/c.txt", "older backup of c");
        writeFile(AppDir + "c.txt", "old c");
    }
    void update() {
        before = snapshotTree(AppDir);
        site.update.installUpdate(site.screen, site.http);
    }
    // upd.zip too, though the site calls its archive so.
    void expectNothingChanged() {
        EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
        EXPECT_EQ(site.screen.status, "ERROR! Program Files download failed.");
        EXPECT_FALSE(site.screen.closed);
        EXPECT_FALSE(site.screen.progressAlive);
        EXPECT_FALSE(site.screen.blocked);
    }

    UpdateSite site;
    TreeSnapshot before;
};

TEST_F(FailedProgramUpdate, FailedDownloadShowsBothErrors) {
    site.update.offeredFileName = "upd.zip";  // not served
    update();
    EXPECT_EQ(site.screen.boxes(), (Events{"error:HTTP/1.1 404 Not Found", "error:Stream read error"}));
    EXPECT_EQ(progressEvents(site.screen.events),
              (Events{"progress:pos:0", "status:Downloading Latest Program Version...", "progress:pos:50",
                      "status:Extracting Latest Program Version...", "progress:pos:100",
                      "status:ERROR! Program Files download failed."}));
    expectNothingChanged();
}

TEST_F(FailedProgramUpdate, ACancelledDownloadIsAFailedOne) {
    site.serveArchive("upd.zip", {{"a.txt", noise(1 << 20)}, {"b.txt", "new b"}});
    site.server.throttle(800 * 1024);
    site.screen.onPump = [&] {
        if (!site.screen.shown.empty() && site.screen.shown.back().received > 0) site.screen.cancelAnswer = true;
    };
    update();
    const Events boxes = site.screen.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "error:Download cancelled.");
    expectNothingChanged();
}

TEST_F(FailedProgramUpdate, CutDownloadShowsBothErrors) {
    site.serveArchive("upd.zip", {{"a.txt", noise(200000)}, {"b.txt", "new b"}});
    const std::string whole = readFile(site.siteFiles.path() + "upd.zip");
    auto response = vendorkit::HttpResponse::ok(whole);
    response.sendOnly = whole.size() / 2;
    site.server.route("/update/upd.zip", response);
    update();
    EXPECT_EQ(site.screen.boxes().size(), 2u);
    expectNothingChanged();
}

TEST_F(FailedProgramUpdate, ArchiveDamagedAfterItsFirstEntries) {
    site.serveArchive("upd.zip", {{"a.txt", "new a"}, {"help/x.txt", "new x"}, {"b.txt", "new b", true}});
    update();
    ASSERT_EQ(site.screen.boxes().size(), 1u);
    expectNothingChanged();
}

TEST_F(FailedProgramUpdate, ReadOnlyFileInTheWay) {
    // c.txt cannot be backed up (upgr_bak has one) and cannot be written over.
    platform::setReadOnly(AppDir + "c.txt", true);
    site.serveArchive("upd.zip", {{"a.txt", "new a"}, {"new/n.txt", "new n"}, {"c.txt", "new c"}, {"b.txt", "new b"}});
    update();
    ASSERT_EQ(site.screen.boxes().size(), 1u);
    EXPECT_EQ(site.screen.boxes()[0].rfind("error:Could not replace the program files!\r\nCannot create file \"" + AppDir +
                                               "c.txt\".",
                                           0),
              0u)
        << site.screen.boxes()[0];
    expectNothingChanged();
}

TEST_F(FailedProgramUpdate, FileInUseInTheWay) {
    const int fd = ::open((AppDir + "c.txt").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);
    site.serveArchive("upd.zip", {{"a.txt", "new a"}, {"c.txt", "new c"}});
    update();
    ::close(fd);
    EXPECT_EQ(site.screen.boxes().size(), 1u);
    expectNothingChanged();
}

TEST_F(FailedProgramUpdate, FolderEntryWhereAFileIs) {
    site.serveArchive("upd.zip", {{"a.txt", "new a"}, {"b.txt/", ""}});
    update();
    EXPECT_EQ(site.screen.boxes().size(), 1u);
    expectNothingChanged();
}

TEST(ProgramUpdateRefuses, ArchiveNameOutsideTheApplicationFolder) {
    for (const std::string name : {"../victim.zip", "sub\\..\\..\\victim.zip"}) {
        UpdateSite site;
        AppDir = site.app.path() + "app/";
        makeFolders(AppDir + "upgr_bak");
        makeFolders(AppDir + "sub");
        writeFile(site.app.path() + "victim.zip", "not to be touched");
        site.serveArchive("victim.zip", {{"a.txt", "new a"}});
        const std::string archive = readFile(site.siteFiles.path() + "victim.zip");
        site.server.serveBytes("/victim.zip", archive);
        site.server.serveBytes("/update/" + name, archive);
        site.update.offeredFileName = name;
        site.update.installUpdate(site.screen, site.http);
        EXPECT_EQ(readFile(site.app.path() + "victim.zip"), "not to be touched") << name;
        EXPECT_EQ(treeDifferences({{"upgr_bak/", ""}, {"sub/", ""}}, snapshotTree(AppDir)), "") << name;
        EXPECT_EQ(site.screen.status, "ERROR! Program Files download failed.") << name;
    }
}

// The program's own bookkeeping is never an entry's to take: such an archive
// is refused before anything is unpacked, whatever else it holds.
TEST(ProgramUpdateRefuses, EntriesNamingWhatTheProgramKeepsForItself) {
    const std::string names[] = {
        ".final_inst.journal", ".final_inst.journal.new",   // the journal and its draft
        ".upgr_work0/x.txt",   ".upgr_work1/",              // the change's work folders
        "upgr_bak/a.txt",      "./upgr_bak//b.txt",         // the backups, beside a.txt and b.txt
        "temp/temp.ini",       "temp",                      // the catalogue's folder
        "signing.ini",         ".signing.ini.new0",         // what was accepted of the signings
        "UPGR_BAK/a.txt",      "Temp. /temp.ini",           // as Windows reads the names
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        UpdateSite site;
        writeFile(AppDir + "a.txt", "old a");
        writeFile(AppDir + "b.txt", "old b");
        writeFile(AppDir + "upgr_bak/c.txt", "older backup of c");
        makeFolders(AppDir + "temp");
        writeFile(AppDir + "temp/temp.ini", "[temp.fdb]\r\n");
        writeFile(AppDir + "signing.ini", "serial=5\r\n");
        site.serveArchive("upd.zip", {{"a.txt", "new a"}, {name, name.back() == '/' ? "" : "theirs"}, {"b.txt", "new b"}});
        const TreeSnapshot before = snapshotTree(AppDir);
        site.update.installUpdate(site.screen, site.http);
        EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
        EXPECT_EQ(site.screen.boxes(), Events{"error:Could not unpack the program files!\r\nThe update names a file the program keeps for itself: " + name});
        EXPECT_EQ(site.screen.status, "ERROR! Program Files download failed.");
    }
}

// Names that only look like the program's own are the vendor's files.
TEST(ProgramUpdateEntryNames, NamesThatOnlyResembleTheProgramsOwnInstall) {
    UpdateSite site;
    site.serveArchive("upd.zip", {{"upgr_bak2/a.txt", "a"}, {"sub/temp/b.txt", "b"}, {".upgr_work/c.txt", "c"},
                                  {".upgr_workx", "d"}, {"temporary.txt", "e"}, {".final_inst.journal.old", "f"}});
    site.update.installUpdate(site.screen, site.http);
    const TreeSnapshot expected{{"upgr_bak/", ""},       {"upgr_bak2/", ""},       {"upgr_bak2/a.txt", "a"},
                                {"sub/", ""},            {"sub/temp/", ""},        {"sub/temp/b.txt", "b"},
                                {".upgr_work/", ""},     {".upgr_work/c.txt", "c"}, {".upgr_workx", "d"},
                                {"temporary.txt", "e"},  {".final_inst.journal.old", "f"}};
    EXPECT_EQ(treeDifferences(expected, snapshotTree(AppDir)), "");
    EXPECT_EQ(site.screen.boxes(), Events{"info:The program files installed successfully."});
}

// Names as ordinary tools write them ("./b.txt" from bsdtar, "sub//b.txt")
// install exactly as their plain forms do, backups and the journal included.
TEST(ProgramUpdateEntryNames, DotAndEmptyLevelsInstallAllTheNewFilesAndKeepEarlierBackups) {
    struct Case {
        const char* what;
        std::vector<ArchiveEntry> entries;
    };
    const Case cases[] = {
        {"bsdtar", {{"./", ""}, {"./a.txt", "new a"}, {"./sub/", ""}, {"./sub/b.txt", "new sub b"}, {"./b.txt", "new b"}}},
        {"empty levels", {{"a.txt", "new a"}, {"sub//b.txt", "new sub b"}, {"b.txt", "new b"}}},
        {"mixed", {{"./a.txt", "new a"}, {"sub/./b.txt", "new sub b"}, {".//b.txt", "new b"}, {"sub//", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateSite site;
        writeFile(AppDir + "a.txt", "old a");
        writeFile(AppDir + "b.txt", "old b");
        makeFolders(AppDir + "sub");
        writeFile(AppDir + "sub/b.txt", "old sub b");
        makeFolders(AppDir + "upgr_bak/sub");
        writeFile(AppDir + "upgr_bak/a.txt", "first backup of a");
        site.serveArchive("upd.zip", c.entries);
        site.update.installUpdate(site.screen, site.http);
        const TreeSnapshot expected{{"a.txt", "new a"},
                                    {"b.txt", "new b"},
                                    {"sub/", ""},
                                    {"sub/b.txt", "new sub b"},
                                    {"upgr_bak/", ""},
                                    {"upgr_bak/a.txt", "first backup of a"},
                                    {"upgr_bak/b.txt", "old b"},
                                    {"upgr_bak/sub/", ""},
                                    {"upgr_bak/sub/b.txt", "old sub b"}};
        EXPECT_EQ(treeDifferences(expected, snapshotTree(AppDir)), "");
        EXPECT_EQ(site.screen.boxes(), Events{"info:The program files installed successfully."});
    }
}

TEST(ProgramUpdateEntryNames, ANameThatComesToNoFileLeavesEverythingAsItWas) {
    for (const std::string name : {"b.txt/.", ".", "sub/./.", "", "sub/../../x.txt"}) {
        SCOPED_TRACE(name);
        UpdateSite site;
        writeFile(AppDir + "a.txt", "old a");
        writeFile(AppDir + "b.txt", "old b");
        writeFile(AppDir + "upgr_bak/a.txt", "first backup of a");
        site.serveArchive("upd.zip", {{"./b.txt", "new b"}, {name, "data"}, {"a.txt", "new a"}});
        const TreeSnapshot before = snapshotTree(AppDir);
        site.update.installUpdate(site.screen, site.http);
        EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
        EXPECT_EQ(site.screen.boxes(), Events{"error:Could not unpack the program files!\r\nUnsafe entry name: " + name});
        EXPECT_EQ(site.screen.status, "ERROR! Program Files download failed.");
    }
}

// version.txt's file= forms an address and nothing else: whatever it names,
// nothing outside the update's work folder is written or deleted for it.
class HostileArchiveName : public ::testing::Test {
protected:
    HostileArchiveName() {
        makeFolders(AppDir + "db");
        writeFile(AppDir + "db/db.fdb", "the organizer's working database");
        writeFile(AppDir + "quillary.exe", "program 1.0");
        writeFile(AppDir + "a.txt", "old a");
        archive = [&] {
            site.serveArchive("upd.zip", {{"a.txt", "new a"}});
            return readFile(site.siteFiles.path() + "upd.zip");
        }();
        before = snapshotTree(AppDir);
    }
    void offer(const std::string& name) {
        site.screen.events.clear();
        site.update.offeredFileName = name;
        site.update.installUpdate(site.screen, site.http);
    }
    UpdateSite site;
    std::string archive;
    TreeSnapshot before;
};

TEST_F(HostileArchiveName, ANameThatIsNotPlainIsNeverFetched) {
    const std::string names[] = {"../x.zip", "/abs.zip", "C:x.zip", "c:/x.zip", "a\\b.zip", "\\x.zip",
                                 "a\x01" "b.zip", "a\nb.zip", "a\x7f.zip", "", "sub/", ".", "sub/..", "sub/.",
                                 "a/../../x.zip"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        offer(name);
        EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
        EXPECT_TRUE(site.screen.boxes().empty());
        EXPECT_EQ(site.screen.status, "ERROR! Program Files download failed.");
    }
    EXPECT_TRUE(site.server.requests().empty());
}

TEST_F(HostileArchiveName, ThePlainNameOfAFileOfOursIsOnlyAnAddress) {
    for (const std::string name : {"db/db.fdb", "quillary.exe", ".final_inst.journal", ".upgr_work0", "upgr_bak"}) {
        SCOPED_TRACE(name);
        // Not found there: two error boxes, and nothing changes.
        offer(name);
        EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
        EXPECT_EQ(site.screen.boxes(), (Events{"error:HTTP/1.1 404 Not Found", "error:Stream read error"}));
        EXPECT_EQ(site.requestsFor("/update/" + name), 1);
    }
    for (const std::string name : {"db/db.fdb", "quillary.exe", ".final_inst.journal", ".upgr_work0"}) {
        SCOPED_TRACE(name);
        // Served there: the archive's own files are all that change.
        writeFile(AppDir + "a.txt", "old a");
        std::filesystem::remove(AppDir + "upgr_bak/a.txt");
        site.server.serveBytes("/update/" + name, archive);
        offer(name);
        TreeSnapshot expected = before;
        expected["a.txt"] = "new a";
        expected["upgr_bak/a.txt"] = "old a";
        EXPECT_EQ(treeDifferences(expected, snapshotTree(AppDir)), "");
        EXPECT_EQ(site.screen.boxes(), Events{"info:The program files installed successfully."});
    }
}

TEST(ProgramUpdateEnds, AnEndAskedForDuringThePacedStepLeavesEverythingAsItWas) {
    UpdateSite site;
    writeFile(AppDir + "a.txt", "old a");
    site.serveArchive("upd.zip", {{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}});
    const TreeSnapshot before = snapshotTree(AppDir);
    int pumps = 0;
    // Pumps 1 and 2 come before and after the download, then one per entry.
    site.screen.onPump = [&] { site.screen.endAsked = ++pumps == 3; };
    site.update.installUpdate(site.screen, site.http);
    EXPECT_EQ(pumps, 3);
    EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_FALSE(site.screen.closed);
    EXPECT_FALSE(site.screen.blocked);
}

TEST(ProgramUpdateEnds, NoUpdateBeginsOnceAnEndIsAskedFor) {
    UpdateSite site;
    site.serveArchive("upd.zip", {{"a.txt", "new a"}});
    site.screen.endAsked = true;
    site.update.installUpdate(site.screen, site.http);
    EXPECT_EQ(site.requestsFor("/update/upd.zip"), 0);
    EXPECT_TRUE(site.screen.events.empty());
    EXPECT_FALSE(platform::pathExists(AppDir + "a.txt"));
}

TEST(ProgramUpdateBlocksInput, EveryPumpRunsWithInputBlocked) {
    UpdateSite site;
    site.serveArchive("upd.zip", {{"a.txt", "new a"}, {"b.txt", "new b"}});
    int pumps = 0;
    site.screen.onPump = [&] {
        EXPECT_TRUE(site.screen.blocked);
        if (site.screen.transferRunning) return;  // the download's own, as many as the clock makes
        ++pumps;
        EXPECT_TRUE(site.screen.progressAlive);
    };
    site.update.installUpdate(site.screen, site.http);
    EXPECT_EQ(pumps, 4);
    EXPECT_FALSE(site.screen.blocked);
}

}  // namespace
}  // namespace quill::testing
