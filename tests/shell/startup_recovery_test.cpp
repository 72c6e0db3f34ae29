// At start-up a change that a killed run left unfinished is put right, and the
// user reads in a box what was done, or why it could not be done.
#include "shell/startup_recovery.h"

#include "recording_boxes.h"
#include "support/child_program.h"
#include "support/sample_changes.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"

#include <QtTest>

using namespace quill;
using namespace quill::testing;

namespace {

// Runs a sample change in a child process killed at that journal point (0:
// never); returns the points a whole run passes.
int runSampleChange(const std::string& kind, const std::string& app, int killAt) {
    const ChildProgramEnd end =
        runChildProgram(QUILL_CHANGE_CHILD, {"sample-" + kind, app, "--kill-at", std::to_string(killAt)});
    const auto at = end.output.find("points ");
    return at == std::string::npos ? 0 : std::stoi(end.output.substr(at + 7));
}

}  // namespace

class StartupRecoveryTest : public QObject {
    Q_OBJECT
private slots:
    void saysWhatWasPutRight() {
        TempFolder app;
        makeSampleAppFolder(app.path());
        const TreeSnapshot before = snapshotTree(app.path());
        RecordingBoxes boxes;
        putRightAnUnfinishedChange(app.path(), boxes);
        QVERIFY(boxes.shown.empty());

        runSampleChange("installation", app.path(), 5);
        putRightAnUnfinishedChange(app.path(), boxes);
        QCOMPARE(boxes.shown, (std::vector<std::string>{
                                  "info:The program was stopped while it was installing a template. The installation "
                                  "has been undone: the database and its data folder are as they were before."}));
        QCOMPARE(treeDifferences(before, snapshotTree(app.path())), std::string());

        TempFolder counted;
        makeSampleAppFolder(counted.path());
        const int points = runSampleChange("update", counted.path(), 0);
        QVERIFY(points > 1);
        runSampleChange("update", app.path(), points - 1);
        boxes.shown.clear();
        putRightAnUnfinishedChange(app.path(), boxes);
        QCOMPARE(boxes.shown, (std::vector<std::string>{
                                  "info:The program was stopped just as it finished updating the program files. The "
                                  "update has been completed: the new program files are in place."}));
        QCOMPARE(treeDifferences(afterSampleUpdate(before), snapshotTree(app.path())), std::string());
    }

    void listsWhatItKeptBecauseSomeoneChangedIt() {
        TempFolder counted;
        makeSampleAppFolder(counted.path());
        const int points = runSampleChange("installation", counted.path(), 0);
        for (int point = 1; point < points; ++point) {
            TempFolder app;
            makeSampleAppFolder(app.path());
            runSampleChange("installation", app.path(), point);
            if (!QFile::exists(QString::fromStdString(app / ".final_inst.journal")) ||
                !QFile::exists(QString::fromStdString(app / "db/db.fdb")) || readFile(app / "db/db.fdb") != "new database") {
                continue;
            }
            writeFile(app / "db/db.fdb", "new database, changed by the user");
            RecordingBoxes boxes;
            putRightAnUnfinishedChange(app.path(), boxes);
            QCOMPARE(boxes.shown,
                     (std::vector<std::string>{
                         "info:The program was stopped while it was installing a template. The installation has been "
                         "undone: the database and its data folder are as they were before.\nSome files had been "
                         "changed since the program put them in place. They have not been deleted, but kept under "
                         "these names:\n" + app / "db/db (changed, kept).fdb"}));
            QCOMPARE(readFile(app / "db/db (changed, kept).fdb"), std::string("new database, changed by the user"));
            return;
        }
        QFAIL("no journal point with the new database in place");
    }

    void saysWhyWhenTheFolderCannotBePutRightAndTriesAgainAtTheNextStart() {
        TempFolder app;
        makeSampleAppFolder(app.path());
        const TreeSnapshot before = snapshotTree(app.path());
        // Killed after the new program file moved in.
        runSampleChange("update", app.path(), 10);
        if (!setImmutable(app / "quillary.exe", true)) QSKIP("no immutable files here");
        RecordingBoxes boxes;
        putRightAnUnfinishedChange(app.path(), boxes);
        setImmutable(app / "quillary.exe", false);
        QCOMPARE(boxes.shown.size(), std::size_t(1));
        const std::string start = "error:The program was stopped while it was changing its files, and they could not "
                                  "be put back in order:\nCannot move \"" + app.path() + "quillary.exe\"";
        QCOMPARE(boxes.shown[0].substr(0, start.size()), start);
        QVERIFY(boxes.shown[0].find("\nThe program will try again the next time it starts.") != std::string::npos);

        boxes.shown.clear();
        putRightAnUnfinishedChange(app.path(), boxes);
        QCOMPARE(boxes.shown.size(), std::size_t(1));
        QCOMPARE(boxes.shown[0].substr(0, 5), std::string("info:"));
        QCOMPARE(treeDifferences(before, snapshotTree(app.path())), std::string());
    }

    void saysSoAndLeavesEverythingWhenTheRecordCannotBeReadWhole() {
        TempFolder app;
        makeSampleAppFolder(app.path());
        runSampleChange("update", app.path(), 10);
        const std::string journal = app / ".final_inst.journal";
        std::string bytes = readFile(journal);
        const auto secondLineEnd = bytes.find('\n', bytes.find('\n') + 1);
        QVERIFY(secondLineEnd != std::string::npos && secondLineEnd + 1 < bytes.size());
        bytes[secondLineEnd - 1] ^= 0x20;
        writeFile(journal, bytes);
        const TreeSnapshot left = snapshotTree(app.path());
        RecordingBoxes boxes;
        putRightAnUnfinishedChange(app.path(), boxes);
        QCOMPARE(boxes.shown,
                 (std::vector<std::string>{
                     "error:The program was stopped while it was changing its files, and its record of that change (\"" +
                     journal +
                     "\") cannot be read whole, so the files have been left as they are.\nCheck the program files, "
                     "the database and its data folder, then delete that record. Until then no template can be "
                     "installed and no update made."}));
        QCOMPARE(treeDifferences(left, snapshotTree(app.path())), std::string());
    }
};

QTEST_MAIN(StartupRecoveryTest)
#include "startup_recovery_test.moc"
