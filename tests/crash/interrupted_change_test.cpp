// Kills a child process in the middle of a change of an application folder
// (after each journal point, and at random moments), then recovers as the next
// start does, and compares the whole folder with how it was before the change
// and how an uninterrupted change leaves it: it must be one or the other. The
// changes are the journal's sample changes and the real template installation
// and program update, the update fetched from a site on loopback.
#include "support/child_program.h"
#include "support/journal_crash.h"
#include "support/sample_changes.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"
#include "vendorkit/http_server.h"
#include "vendorkit/zip_writer.h"
#include "workspace/change/folder_change.h"

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

// --- the real changes, in the folder of the sample changes ----------------------

void makeFolderToInstallInto(const std::string& app) {
    makeSampleAppFolder(app);
    makeFolders(app + "temp");
    writeSampleTemplateArchive(app + "temp/contacts.zip");
}

std::vector<std::string> installationArgs(const std::string& app) {
    return {"installation", app, app + "temp/contacts.zip"};
}

// The sample folder's old pair goes to the backup, the template takes its place.
TreeSnapshot afterInstallation(const TreeSnapshot& before) {
    TreeSnapshot after = before;
    std::erase_if(after, [](const auto& entry) { return entry.first.rfind("data/db/", 0) == 0; });
    after["db/backup/"] = "";
    after["db/backup/db.fdb"] = "old database";
    after["data/backup/"] = "";
    for (const auto& [path, bytes] : before) {
        if (path.rfind("data/db/", 0) == 0) after["data/backup/" + path.substr(5)] = bytes;
    }
    after["db/db.fdb"] = "new database";
    after["data/db/"] = "";
    after["data/db/notes.txt"] = "new notes";
    after["data/db/forms/"] = "";
    after["data/db/forms/a.frm"] = "form a";
    return after;
}

// A first installation made, and a second template downloaded.
void makeFolderToInstallASecondTemplateInto(const std::string& app) {
    makeFolderToInstallInto(app);
    const ChildProgramEnd first = runChildProgram(QUILL_CHANGE_CHILD, installationArgs(app), -1);
    ASSERT_EQ(first.exitCode, 0) << first.output;
    writeSampleTemplateArchive(app + "temp/contacts.zip", "second database", "second notes");
}

// The first template's pair is the backup now, the sample folder's is gone.
TreeSnapshot afterSecondInstallation(const TreeSnapshot& before) {
    TreeSnapshot after = before;
    std::erase_if(after, [](const auto& entry) { return entry.first.rfind("data/backup/db/", 0) == 0; });
    after["db/backup/db.fdb"] = "new database";
    after["data/backup/db/"] = "";
    after["data/backup/db/notes.txt"] = "new notes";
    after["data/backup/db/forms/"] = "";
    after["data/backup/db/forms/a.frm"] = "form a";
    after["db/db.fdb"] = "second database";
    after["data/db/notes.txt"] = "second notes";
    return after;
}

const char* const kUpdateFile = "quillary-1.1.zip";

vendorkit::HttpServer& updateSite() {
    static vendorkit::HttpServer server;
    static const bool served = [] {
        server.serveBytes(std::string("/update/") + kUpdateFile, sampleUpdateArchive());
        return true;
    }();
    (void)served;
    return server;
}

std::vector<std::string> updateArgs(const std::string& app) {
    return {"update", app, updateSite().url("/update/"), kUpdateFile};
}

TreeSnapshot afterUpdate(const TreeSnapshot& before) {
    TreeSnapshot after = before;
    // Each file with the mode it should have: the program keeps its right to run.
    after["quillary.exe"] = withMode(0755, "program 1.1");
    after["upgr_bak/quillary.exe"] = withMode(0755, "program 1.0");
    after["readme.txt"] = withMode(0600, "readme 1.1");
    after["bin/tool.dll"] = "tool 1.1";
    after["help/"] = "";
    after["help/manual.txt"] = withMode(0700, "manual 1.1");
    after["plugins/"] = "";
    return after;
}

std::vector<std::string> sampleInstallationArgs(const std::string& app) { return {"sample-installation", app}; }
std::vector<std::string> sampleUpdateArgs(const std::string& app) { return {"sample-update", app}; }

struct Scenario {
    const char* name;
    void (*prepare)(const std::string& app);
    std::vector<std::string> (*args)(const std::string& app);
    TreeSnapshot (*after)(const TreeSnapshot& before);
};

const Scenario kSampleChanges[] = {
    {"installation", makeSampleAppFolder, sampleInstallationArgs, afterSampleInstallation},
    {"update", makeSampleAppFolder, sampleUpdateArgs, afterSampleUpdate},
};
const Scenario kRealChanges[] = {
    {"installation", makeFolderToInstallInto, installationArgs, afterInstallation},
    {"second_installation", makeFolderToInstallASecondTemplateInto, installationArgs, afterSecondInstallation},
    {"update", makeSampleAppFolder, updateArgs, afterUpdate},
};

// A copy of the folder as a killed run left it, modification times and all:
// recovery tells someone's changes from ours by them.
void copyKeepingTimes(const std::string& from, const std::string& to) {
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    for (const auto& entry : fs::recursive_directory_iterator(from)) {
        if (entry.is_symlink()) continue;
        fs::last_write_time(to / fs::relative(entry.path(), from), entry.last_write_time());
    }
}

std::vector<std::string> withKillAt(std::vector<std::string> args, int point) {
    args.push_back("--kill-at");
    args.push_back(std::to_string(point));
    return args;
}

class InterruptedChange : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        TempFolder app;
        GetParam().prepare(app.path());
        before = snapshotTree(app.path());
        const ChildRun whole = runChild(GetParam().args(app.path()));
        ASSERT_EQ(whole.exitCode, 0);
        after = snapshotTree(app.path());
        ASSERT_EQ(treeDifferences(GetParam().after(before), after), "");
        points = whole.points;
        micros = whole.micros;
        ASSERT_GT(points, 5);
    }

    void prepare(const TempFolder& app) const { GetParam().prepare(app.path()); }

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

// Killing the recovery itself tries the same records again, whoever wrote them:
// the sample changes hold every kind of step.
using InterruptedRecovery = InterruptedChange;

}  // namespace

TEST_P(InterruptedChange, OneRecoveryAfterAKillAtAnyJournalPointLeavesAllOldOrAllNew) {
    for (int point = 1; point <= points; ++point) {
        SCOPED_TRACE("killed at journal point " + std::to_string(point) + " of " + std::to_string(points));
        TempFolder app;
        prepare(app);
        ASSERT_TRUE(runChild(withKillAt(GetParam().args(app.path()), point)).killed);
        expectAllOldOrAllNew(app.path(), recoverUnfinishedChange(app.path()).outcome);
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
        prepare(app);
        const long long at = moment(random);
        SCOPED_TRACE("killed " + std::to_string(at) + " us after the start");
        const ChildRun child = runChild(GetParam().args(app.path()), at);
        ASSERT_TRUE(child.killed || child.exitCode == 0);
        expectAllOldOrAllNew(app.path(), recoverUnfinishedChange(app.path()).outcome);
    }
}

TEST_P(InterruptedRecovery, ARecoveryKilledAnywhereIsFinishedByTheNextStart) {
    for (int point = 1; point < points; ++point) {
        TempFolder killed;
        prepare(killed);
        ASSERT_TRUE(runChild(withKillAt(GetParam().args(killed.path()), point)).killed);
        for (int recoveryPoint = 1;; ++recoveryPoint) {
            SCOPED_TRACE("change killed at point " + std::to_string(point) + ", recovery at point " +
                         std::to_string(recoveryPoint));
            TempFolder app;
            copyKeepingTimes(killed.path(), app.path());
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

// The organizer may open the new database as soon as it is in place and the
// user may change it: that work survives a stop at any point, in the database
// once the installation's renames are all made, under a kept name before.
TEST(InterruptedInstallation, TheUsersChangeToTheNewDatabaseSurvivesAStopAtAnyPoint) {
    int points = 0;
    {
        TempFolder app;
        makeFolderToInstallInto(app.path());
        const ChildRun whole = runChild(installationArgs(app.path()));
        ASSERT_EQ(whole.exitCode, 0);
        points = whole.points;
    }
    const std::string changed = "new database changed by the organizer";
    int completedWithTheChange = 0;
    for (int point = 1; point <= points; ++point) {
        SCOPED_TRACE("the organizer wrote at journal point " + std::to_string(point) + " of " + std::to_string(points));
        TempFolder app;
        makeFolderToInstallInto(app.path());
        std::vector<std::string> args = installationArgs(app.path());
        args.insert(args.end(), {"--organizer-writes-at", std::to_string(point)});
        ASSERT_TRUE(runChild(args).killed);
        const bool wroteTheNewOne = readFile(app.path() + "db/db.fdb") == changed;
        const std::string journal = app.path() + ".final_inst.journal";
        const bool renamedButNotCommitted = wroteTheNewOne && fs::exists(journal) &&
                                            readFile(journal).find(" commit\n") == std::string::npos &&
                                            fs::exists(app.path() + "data/db/notes.txt") &&
                                            readFile(app.path() + "data/db/notes.txt") == "new notes";
        const RecoveredChange recovered = recoverUnfinishedChange(app.path());
        const TreeSnapshot now = snapshotTree(app.path());
        if (!wroteTheNewOne) continue;
        if (recovered.outcome != RecoveredChange::Outcome::RolledBack) {
            EXPECT_EQ(now.at("db/db.fdb"), changed);
            EXPECT_TRUE(recovered.kept.empty());
            completedWithTheChange += renamedButNotCommitted;
        } else {
            EXPECT_FALSE(renamedButNotCommitted) << "undone after every rename was made";
            ASSERT_EQ(recovered.kept.size(), 1u);
            EXPECT_EQ(recovered.kept[0], app.path() + "db/db (changed, kept).fdb");
            EXPECT_EQ(now.at("db/db (changed, kept).fdb"), changed);
            EXPECT_EQ(now.at("db/db.fdb"), "old database");
        }
    }
    // A stop between the last rename and the commit is completed, not undone.
    EXPECT_GT(completedWithTheChange, 0);
}

const auto kScenarioName = [](const auto& info) { return std::string(info.param.name); };
// The program that runs the update is the file it replaces, packed without
// its execute bits: it must still start afterwards.
TEST(SelfUpdate, AnUpdateThatReplacesTheRunningProgramLeavesOneThatStarts) {
    TempFolder app;
    makeSampleAppFolder(app.path());
    const std::string program = app / "quillary.exe";
    fs::copy_file(QUILL_CHANGE_CHILD, program, fs::copy_options::overwrite_existing);
    fs::permissions(program, fs::perms(0755));
    {
        vendorkit::ZipWriter zip(app / "self.zip");
        vendorkit::ZipEntryOptions withoutExecute;
        withoutExecute.unixMode = 0644;
        zip.addFile("quillary.exe", readFile(QUILL_CHANGE_CHILD), withoutExecute);
    }
    updateSite().serveBytes("/update/self.zip", readFile(app / "self.zip"));
    fs::remove(app / "self.zip");
    const ChildProgramEnd update = runChildProgram(program, {"update", app.path(), updateSite().url("/update/"), "self.zip"});
    ASSERT_EQ(update.exitCode, 0) << update.output;
    EXPECT_EQ(readFile(program), readFile(QUILL_CHANGE_CHILD));
    // Without arguments it says how it is used and ends with 2: it started.
    EXPECT_EQ(runChildProgram(program, {}).exitCode, 2);
}

INSTANTIATE_TEST_SUITE_P(SampleChanges, InterruptedChange, ::testing::ValuesIn(kSampleChanges), kScenarioName);
INSTANTIATE_TEST_SUITE_P(RealChanges, InterruptedChange, ::testing::ValuesIn(kRealChanges), kScenarioName);
INSTANTIATE_TEST_SUITE_P(SampleChanges, InterruptedRecovery, ::testing::ValuesIn(kSampleChanges), kScenarioName);
