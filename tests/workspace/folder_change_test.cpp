// A journalled change of the application folder: undone after an error or a
// crash, completed once committed, and never fooled by a journal that lost its
// last line. Every crash point of the two sample changes is swept by the crash
// harness (tests/crash); these are the cases around it.
#include "workspace/folder_change.h"

#include "platform/error.h"
#include "support/error_of.h"
#include "support/journal_crash.h"
#include "support/sample_changes.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

using namespace quill;
using namespace quill::testing;

namespace {

using Outcome = RecoveredChange::Outcome;

class SampleFolder : public ::testing::Test {
protected:
    void SetUp() override {
        makeSampleAppFolder(dir.path());
        before = snapshotTree(dir.path());
    }

    std::string journal() const { return journalPath(dir.path()); }
    TreeSnapshot now() const { return snapshotTree(dir.path()); }

    // The first journal point at which a killed update leaves a whole commit record.
    int commitPoint() {
        for (int point = 1;; ++point) {
            TempFolder fresh;
            makeSampleAppFolder(fresh.path());
            if (!runInChild([&] { runSampleUpdate(fresh.path()); }, point).killed) return 0;
            const std::string bytes = readFile(journalPath(fresh.path()));
            if (bytes.size() >= 7 && bytes.compare(bytes.size() - 7, 7, "commit\n") == 0) return point;
        }
    }

    TempFolder dir;
    TreeSnapshot before;
};

// How many journal points a whole run of the change passes, counted on a copy.
int pointsOf(void (*change)(const std::string& app)) {
    TempFolder scratch;
    makeSampleAppFolder(scratch.path());
    return runInChild([&] { change(scratch.path()); }, 0).points;
}

}  // namespace

TEST_F(SampleFolder, AnErrorPutsEveryStepBack) {
    EXPECT_THROW(
        {
            FolderChange change(dir.path(), ChangeKind::Installation);
            change.makeWorkFolder(dir / "data/tmp3");
            writeFile(dir / "data/tmp3/db.fdb", "new database");
            makeFolders(dir / "data/tmp3/db");
            change.keepAside(dir / "db/db.fdb", dir / "db/.db.fdb.keep0");
            change.copy(dir / "data/tmp3/db.fdb", dir / "db/db.fdb");
            FolderChange::Burst burst;
            burst.keepAside(dir / "data/db", dir / "data/tmp3/db.keep");
            burst.makeFolder(dir / "extra");
            burst.move(dir / "data/tmp3/db", dir / "data/db");
            change.carryOut(burst);
            throw std::runtime_error("unpacking failed");
        },
        std::runtime_error);
    EXPECT_EQ(treeDifferences(before, now()), "");
}

TEST_F(SampleFolder, AFailedStepNeedsNoUndoingAndTheChangeGoesOn) {
    // The backup name is taken: the move fails, the file is kept aside instead.
    FolderChange change(dir.path(), ChangeKind::Update);
    change.makeWorkFolder(dir / ".upgr_work0");
    EXPECT_EQ(errorOf([&] { change.move(dir / "readme.txt", dir / "upgr_bak/readme.txt"); }), "File exists");
    change.keepAside(dir / "readme.txt", dir / ".upgr_work0/aside0");
    EXPECT_EQ(errorOf([&] { change.move(dir / "gone.txt", dir / "x.txt"); }), "No such file or directory");
    change.rollBack();
    EXPECT_EQ(treeDifferences(before, now()), "");
}

TEST_F(SampleFolder, ANewChangeWaitsUntilAnUnfinishedOneIsPutRight) {
    ASSERT_TRUE(runInChild([&] { runSampleUpdate(dir.path()); }, 6).killed);
    for (const ChangeKind kind : {ChangeKind::Installation, ChangeKind::Update}) {
        EXPECT_EQ(errorOf([&] { FolderChange change(dir.path(), kind); }),
                  "An earlier template installation or program update was interrupted and has not been put "
                  "right yet. Start the program again to put it right.");
    }
    const RecoveredChange recovered = recoverUnfinishedChange(dir.path());
    EXPECT_EQ(recovered.outcome, Outcome::RolledBack);
    EXPECT_EQ(recovered.kind, ChangeKind::Update);
    EXPECT_EQ(treeDifferences(before, now()), "");
    EXPECT_EQ(errorOf([&] { FolderChange change(dir.path(), ChangeKind::Installation); }), "<no error>");
}

TEST_F(SampleFolder, AJournalWithoutAWholeFirstLineChangedNothing) {
    writeFile(journal(), "1f2e3d4c beg");
    EXPECT_EQ(recoverUnfinishedChange(dir.path()).outcome, Outcome::Nothing);
    EXPECT_FALSE(std::filesystem::exists(journal()));
    writeFile(journal(), "");
    EXPECT_EQ(recoverUnfinishedChange(dir.path()).outcome, Outcome::Nothing);
    EXPECT_EQ(treeDifferences(before, now()), "");
}

TEST_F(SampleFolder, ATornOrGarbledLastLineIsIgnoredEvenWhenTheRecoveryIsKilledToo) {
    const int points = pointsOf(runSampleUpdate);
    for (const std::string& tail : {std::string("0badf00d move\tquillary.exe\tupg"),
                                    std::string("0badf00d move\tquillary.exe\tupgr_bak/x\n"),
                                    std::string(40, '\0')}) {
        for (int recoveryPoint = 1;; ++recoveryPoint) {
            SCOPED_TRACE("recovery killed at point " + std::to_string(recoveryPoint) + " after the tail " + tail);
            ASSERT_TRUE(runInChild([&] { runSampleUpdate(dir.path()); }, points / 2).killed);
            writeFile(journal(), readFile(journal()) + tail);
            const ChildEnd first = runInChild([&] { recoverUnfinishedChange(dir.path()); }, recoveryPoint);
            recoverUnfinishedChange(dir.path());
            ASSERT_EQ(treeDifferences(before, now()), "");
            if (!first.killed) break;
        }
    }
}

TEST_F(SampleFolder, ACommitThatDidNotReachTheDiskWholeIsRolledBack) {
    const int point = commitPoint();
    ASSERT_GT(point, 0);
    ASSERT_TRUE(runInChild([&] { runSampleUpdate(dir.path()); }, point).killed);
    const std::string bytes = readFile(journal());
    writeFile(journal(), bytes.substr(0, bytes.size() - 3));
    EXPECT_EQ(recoverUnfinishedChange(dir.path()).outcome, Outcome::RolledBack);
    EXPECT_EQ(treeDifferences(before, now()), "");
}

TEST_F(SampleFolder, AChangeThatAnotherRunningCopyIsMakingIsLeftAlone) {
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    char byte = 0;
    const pid_t other = ::fork();
    if (other == 0) {
        {
            FolderChange change(dir.path(), ChangeKind::Installation);
            change.keepAside(dir / "db/db.fdb", dir / "db/.db.fdb.keep0");
            [[maybe_unused]] const ssize_t told = ::write(ready[1], "r", 1);
            [[maybe_unused]] const ssize_t heard = ::read(go[0], &byte, 1);
        }
        ::_exit(0);
    }
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    const TreeSnapshot during = now();
    EXPECT_EQ(recoverUnfinishedChange(dir.path()).outcome, Outcome::Nothing);
    EXPECT_EQ(treeDifferences(during, now()), "");
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    int status = 0;
    ::waitpid(other, &status, 0);
    EXPECT_EQ(treeDifferences(before, now()), "");
}

TEST(JournalLines, KeepAnyNameAndNeverPointOutsideTheFolder) {
    JournalRecord move;
    move.type = JournalRecord::Type::Move;
    move.path = std::string("a\\b\tc\nd\re\x01\x7f\xff", 12);
    move.to = "upgr_bak/x y.txt";
    std::size_t valid = 0;
    const auto records = parseJournal(journalLine(move), valid);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].path, move.path);
    EXPECT_EQ(records[0].to, move.to);

    // A journal edited to reach outside the folder is not followed.
    for (const std::string outside : {"../x", "/etc/passwd", "a/../../x", ""}) {
        move.path = outside;
        EXPECT_TRUE(parseJournal(journalLine(move), valid).empty()) << outside;
    }
}
