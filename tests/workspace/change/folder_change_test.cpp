// A journalled change of the application folder: undone after an error or a
// crash, completed once committed, and never fooled by a journal that lost its
// last line. Every crash point of the two sample changes is swept by the crash
// harness (tests/crash); these are the cases around it.
#include "workspace/change/folder_change.h"

#include "platform/error.h"
#include "support/error_of.h"
#include "support/journal_crash.h"
#include "support/sample_changes.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"

#include <functional>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <zlib.h>
#include <unistd.h>

#include <cstdio>
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

// Another copy of the program in a process of its own: `work` runs there
// and calls holdOn() once it holds what it holds, and the copy keeps holding
// it until this object goes.
class AnotherCopy {
public:
    explicit AnotherCopy(const std::function<void(const std::function<void()>&)>& work) {
        if (::pipe(ready_) != 0 || ::pipe(go_) != 0) throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            work([this] {
                char byte = 0;
                [[maybe_unused]] const ssize_t told = ::write(ready_[1], "r", 1);
                [[maybe_unused]] const ssize_t heard = ::read(go_[0], &byte, 1);
            });
            ::_exit(0);
        }
        char byte = 0;
        if (pid_ < 0 || ::read(ready_[0], &byte, 1) != 1) throw std::runtime_error("the other copy did not start");
    }
    ~AnotherCopy() {
        [[maybe_unused]] const ssize_t told = ::write(go_[1], "g", 1);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        for (int fd : {ready_[0], ready_[1], go_[0], go_[1]}) ::close(fd);
    }
    AnotherCopy(const AnotherCopy&) = delete;
    AnotherCopy& operator=(const AnotherCopy&) = delete;

private:
    int ready_[2] = {-1, -1};
    int go_[2] = {-1, -1};
    pid_t pid_ = -1;
};

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

// The organizer may still write to the old database once it is set aside:
// that is the user's work, which the commit keeps under a name that says so
// rather than deleting it with what was set aside.
TEST_F(SampleFolder, AFileChangedWhileSetAsideIsKeptAtTheCommit) {
    {
        FolderChange change(dir.path(), ChangeKind::Installation);
        change.makeWorkFolder(dir / "data/tmp3");
        writeFile(dir / "data/tmp3/db.fdb", "new database");
        change.keepAside(dir / "db/db.fdb", dir / "db/.db.fdb.keep0");
        writeFile(dir / "db/.db.fdb.keep0", "old database changed by the organizer");
        change.copy(dir / "data/tmp3/db.fdb", dir / "db/db.fdb");
        change.commit();
    }
    TreeSnapshot expected = before;
    expected["db/db.fdb"] = "new database";
    expected["db/db (changed, kept).fdb"] = "old database changed by the organizer";
    EXPECT_EQ(treeDifferences(expected, now()), "");
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
    {
        AnotherCopy other([&](const std::function<void()>& holdOn) {
            FolderChange change(dir.path(), ChangeKind::Installation);
            change.keepAside(dir / "db/db.fdb", dir / "db/.db.fdb.keep0");
            holdOn();
        });
        const TreeSnapshot during = now();
        EXPECT_EQ(recoverUnfinishedChange(dir.path()).outcome, Outcome::Nothing);
        EXPECT_EQ(treeDifferences(during, now()), "");
    }
    EXPECT_EQ(treeDifferences(before, now()), "");
}

TEST_F(SampleFolder, AStepTheJournalWouldNotReadBackIsRefusedBeforeAnythingMoves) {
    {
        FolderChange change(dir.path(), ChangeKind::Update);
        change.makeWorkFolder(dir / ".upgr_work0");
        for (const std::string odd : {"./upgr_bak/readme.txt", "upgr_bak//readme.txt", "upgr_bak/./readme.txt"}) {
            EXPECT_NE(errorOf([&] { change.move(dir / "quillary.exe", dir / odd); }), "<no error>") << odd;
            FolderChange::Burst burst;
            burst.keepAside(dir / "bin/tool.dll", dir / ".upgr_work0/aside0");
            burst.move(dir / "quillary.exe", dir / odd);
            EXPECT_NE(errorOf([&] { change.carryOut(burst); }), "<no error>") << odd;
            EXPECT_EQ(readFile(dir / "quillary.exe"), "program 1.0") << odd;
            EXPECT_EQ(readFile(dir / "bin/tool.dll"), "tool 1.0") << odd;
        }
        // What it did record still reads back whole: the commit is found.
        change.move(dir / "quillary.exe", dir / "upgr_bak/quillary.exe");
        change.commit();
    }
    EXPECT_EQ(readFile(dir / "upgr_bak/quillary.exe"), "program 1.0");
    EXPECT_FALSE(std::filesystem::exists(journal()));
    EXPECT_FALSE(std::filesystem::exists(dir / ".upgr_work0"));
}

// Half a journal taken for the whole would undo the steps before a commit it
// did not read: the folder would be neither old nor new.
TEST_F(SampleFolder, AJournalThatCannotBeReadWholeIsLeftAsItIsWithItsFolder) {
    const int point = commitPoint();
    ASSERT_GT(point, 0);
    const auto lineEnds = [](const std::string& bytes) {
        std::vector<std::size_t> ends;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] == '\n') ends.push_back(i);
        return ends;
    };
    struct Spoiling {
        const char* what;
        std::string (*spoil)(const std::string& bytes, const std::vector<std::size_t>& ends);
    };
    const Spoiling spoilings[] = {
        {"a middle line garbled", [](const std::string& b, const std::vector<std::size_t>& e) {
             std::string out = b;
             out[e[1] - 2] ^= 0x20;
             return out;
         }},
        {"a middle line cut short", [](const std::string& b, const std::vector<std::size_t>& e) {
             return b.substr(0, e[1] - 5) + b.substr(e[1]);
         }},
        {"the first line garbled", [](const std::string& b, const std::vector<std::size_t>&) {
             std::string out = b;
             out[12] ^= 0x20;
             return out;
         }},
    };
    for (const auto& spoiling : spoilings) {
        SCOPED_TRACE(spoiling.what);
        TempFolder app;
        makeSampleAppFolder(app.path());
        ASSERT_TRUE(runInChild([&] { runSampleUpdate(app.path()); }, point).killed);
        const std::string bytes = readFile(journalPath(app.path()));
        writeFile(journalPath(app.path()), spoiling.spoil(bytes, lineEnds(bytes)));
        const TreeSnapshot left = snapshotTree(app.path());
        EXPECT_EQ(recoverUnfinishedChange(app.path()).outcome, Outcome::Unreadable);
        EXPECT_EQ(treeDifferences(left, snapshotTree(app.path())), "");
        // Nor may a new change begin over it.
        EXPECT_NE(errorOf([&] { FolderChange change(app.path(), ChangeKind::Installation); }), "<no error>");
        EXPECT_EQ(treeDifferences(left, snapshotTree(app.path())), "");
    }
}

TEST_F(SampleFolder, AWholeRecordThatIsNotUnderstoodStopsTheRecoveryWhereverItIs) {
    const int point = commitPoint();
    ASSERT_GT(point, 0);
    ASSERT_TRUE(runInChild([&] { runSampleUpdate(dir.path()); }, point).killed);
    const std::string bytes = readFile(journal());
    const std::size_t secondLine = bytes.find('\n') + 1;
    // A valid line, as a newer release might write it.
    const std::string content = "rename\tquillary.exe\tx";
    char sum[9];
    std::snprintf(sum, sizeof sum, "%08lx", crc32(0L, reinterpret_cast<const Bytef*>(content.data()),
                                                  static_cast<uInt>(content.size())));
    const std::string foreign = std::string(sum) + " " + content + "\n";
    for (const std::string& spoilt : {bytes.substr(0, secondLine) + foreign + bytes.substr(secondLine), bytes + foreign}) {
        writeFile(journal(), spoilt);
        const TreeSnapshot left = now();
        EXPECT_EQ(recoverUnfinishedChange(dir.path()).outcome, Outcome::Unreadable);
        EXPECT_EQ(treeDifferences(left, now()), "");
    }
    // Put back as it was, it is completed as any committed change.
    writeFile(journal(), bytes);
    EXPECT_EQ(recoverUnfinishedChange(dir.path()).outcome, Outcome::Completed);
    EXPECT_EQ(treeDifferences(afterSampleUpdate(before), now()), "");
}

TEST_F(SampleFolder, AJournalDraftThatAKilledRunLeftGoesAndOneBeingWrittenStays) {
    const std::string draft = journal() + ".new";
    writeFile(draft, "1f2e3d4c begin\tupd");
    EXPECT_EQ(recoverUnfinishedChange(dir.path()).outcome, Outcome::Nothing);
    EXPECT_EQ(treeDifferences(before, now()), "");
    writeFile(draft, "left by a killed run");
    runSampleUpdate(dir.path());
    EXPECT_EQ(treeDifferences(afterSampleUpdate(before), now()), "");

    // Another copy, between locking its draft and renaming it into place.
    AnotherCopy other([&](const std::function<void()>& holdOn) {
        const int fd = ::open(draft.c_str(), O_RDWR | O_CREAT, 0644);
        ::flock(fd, LOCK_EX);
        holdOn();
    });
    const TreeSnapshot during = now();
    EXPECT_EQ(recoverUnfinishedChange(dir.path()).outcome, Outcome::Nothing);
    EXPECT_NE(errorOf([&] { FolderChange change(dir.path(), ChangeKind::Installation); }), "<no error>");
    EXPECT_EQ(treeDifferences(during, now()), "");
}

// A second copy that starts while a change is made, committed or rolled back
// never finds the journal free to take: it would put right, or remove, what
// is still being done.
TEST_F(SampleFolder, ASecondCopyNeverFindsTheJournalUnlocked) {
    int stop[2], report[2];
    ASSERT_EQ(::pipe(stop), 0);
    ASSERT_EQ(::pipe(report), 0);
    ASSERT_EQ(::fcntl(stop[0], F_SETFL, O_NONBLOCK), 0);
    const pid_t other = ::fork();
    if (other == 0) {
        ::close(stop[1]);
        int tookOver = 0;
        char byte = 0;
        while (::read(stop[0], &byte, 1) < 0) {  // until told, or the test is gone
            try {
                if (recoverUnfinishedChange(dir.path()).outcome != Outcome::Nothing) ++tookOver;
            } catch (...) {
                ++tookOver;
            }
        }
        [[maybe_unused]] const ssize_t told = ::write(report[1], &tookOver, sizeof tookOver);
        ::_exit(0);
    }
    for (int i = 0; i < 400; ++i) {
        SCOPED_TRACE("change " + std::to_string(i));
        {
            FolderChange change(dir.path(), ChangeKind::Update);
            change.makeWorkFolder(dir / ".upgr_work0");
            change.keepAside(dir / "readme.txt", dir / ".upgr_work0/aside0");
            if (i % 2) change.commit();
            else change.rollBack();
        }
        if (i % 2) writeFile(dir / "readme.txt", "readme 1.0");
        const std::string differences = treeDifferences(before, now());
        EXPECT_EQ(differences, "");
        if (!differences.empty()) break;
    }
    ASSERT_EQ(::write(stop[1], "s", 1), 1);
    int tookOver = -1;
    ASSERT_EQ(::read(report[0], &tookOver, sizeof tookOver), static_cast<ssize_t>(sizeof tookOver));
    int status = 0;
    ::waitpid(other, &status, 0);
    EXPECT_EQ(tookOver, 0);
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
