// Kills a child process in the middle of a change of an application folder
// (after each journal point, and at random moments), then recovers as the next
// start does, and compares the whole folder with how it was before the change
// and how an uninterrupted change leaves it: it must be one or the other.
#include "support/child_program.h"
#include "support/journal_crash.h"
#include "support/sample_changes.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"
#include "workspace/folder_change.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace quill;
using namespace quill::testing;
namespace fs = std::filesystem;

namespace {

struct ChildRun {
    bool killed = false;
    int exitCode = -1;
    int points = 0;
    long long micros = 0;
};

// The change child; killAfterMicros >= 0 kills it that long after it is ready.
ChildRun runChild(const std::vector<std::string>& args, long long killAfterMicros = -1) {
    const ChildProgramEnd end = runChildProgram(QUILL_CHANGE_CHILD, args, killAfterMicros);
    ChildRun run;
    run.killed = end.killed;
    run.exitCode = end.exitCode;
    const auto at = end.output.find("points ");
    if (at != std::string::npos) {
        std::istringstream in(end.output.substr(at));
        std::string word;
        in >> word >> run.points >> word >> run.micros;
    }
    return run;
}

using Expect = TreeSnapshot (*)(const TreeSnapshot&);

struct Scenario {
    const char* kind;
    Expect after;
};

const Scenario kScenarios[] = {{"installation", afterSampleInstallation}, {"update", afterSampleUpdate}};

class InterruptedChange : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        TempFolder app;
        makeSampleAppFolder(app.path());
        before = snapshotTree(app.path());
        const ChildRun whole = runChild({"change", GetParam().kind, app.path()});
        ASSERT_EQ(whole.exitCode, 0);
        after = snapshotTree(app.path());
        ASSERT_EQ(treeDifferences(GetParam().after(before), after), "");
        points = whole.points;
        micros = whole.micros;
        ASSERT_GT(points, 5);
    }

    // After one recovery the folder must be as it was or as the change leaves it.
    void expectAllOldOrAllNew(const std::string& app, RecoveredChange::Outcome outcome) {
        const TreeSnapshot now = snapshotTree(app);
        if (outcome == RecoveredChange::Outcome::RolledBack) {
            EXPECT_EQ(treeDifferences(before, now), "") << "rolled back";
        } else if (outcome == RecoveredChange::Outcome::Completed) {
            EXPECT_EQ(treeDifferences(after, now), "") << "completed";
        } else {
            EXPECT_TRUE(now == before || now == after) << treeDifferences(after, now);
        }
    }

    TreeSnapshot before;
    TreeSnapshot after;
    int points = 0;
    long long micros = 0;
};

}  // namespace

TEST_P(InterruptedChange, OneRecoveryAfterAKillAtAnyJournalPointLeavesAllOldOrAllNew) {
    for (int point = 1; point <= points; ++point) {
        SCOPED_TRACE("killed at journal point " + std::to_string(point) + " of " + std::to_string(points));
        TempFolder app;
        makeSampleAppFolder(app.path());
        ASSERT_TRUE(runChild({"change", GetParam().kind, app.path(), "--kill-at", std::to_string(point)}).killed);
        expectAllOldOrAllNew(app.path(), recoverUnfinishedChange(app.path()).outcome);
    }
}

TEST_P(InterruptedChange, ARecoveryKilledAnywhereIsFinishedByTheNextStart) {
    for (int point = 1; point < points; ++point) {
        TempFolder killed;
        makeSampleAppFolder(killed.path());
        ASSERT_TRUE(runChild({"change", GetParam().kind, killed.path(), "--kill-at", std::to_string(point)}).killed);
        for (int recoveryPoint = 1;; ++recoveryPoint) {
            SCOPED_TRACE("change killed at point " + std::to_string(point) + ", recovery at point " +
                         std::to_string(recoveryPoint));
            TempFolder app;
            fs::copy(killed.path(), app.path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
            const ChildEnd recovery = runInChild([&] { recoverUnfinishedChange(app.path()); }, recoveryPoint);
            const RecoveredChange second = recoverUnfinishedChange(app.path());
            if (!recovery.killed) {
                EXPECT_EQ(second.outcome, RecoveredChange::Outcome::Nothing);
                break;
            }
            expectAllOldOrAllNew(app.path(), second.outcome);
        }
    }
}

TEST_P(InterruptedChange, AKillAtARandomMomentLeavesAllOldOrAllNewAfterOneRecovery) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // A little past the change's own length, so some kills land on its last steps.
    std::uniform_int_distribution<long long> moment(0, micros + micros / 4);
    for (int run = 0; run < 25; ++run) {
        TempFolder app;
        makeSampleAppFolder(app.path());
        const long long at = moment(random);
        SCOPED_TRACE("killed " + std::to_string(at) + " us after the start");
        const ChildRun child = runChild({"change", GetParam().kind, app.path()}, at);
        ASSERT_TRUE(child.killed || child.exitCode == 0);
        expectAllOldOrAllNew(app.path(), recoverUnfinishedChange(app.path()).outcome);
    }
}

INSTANTIATE_TEST_SUITE_P(SampleChanges, InterruptedChange, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.kind); });
