// A termination signal ends the program's event loops, the modal loop of an
// open box as well, so the program can end while a box waits for an answer.
#include "shell/message_boxes.h"
#include "shell/termination.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include <csignal>

using namespace quill;

class TerminationTest : public QObject {
    Q_OBJECT
private slots:
    void aSignalEndsEveryLoopAndTheOpenBoxAnswersNo() {
        endOnTerminationSignals();
        QtMessageBoxes boxes;
        bool answer = true;
        bool boxWasUp = false;
        QEventLoop mainWindowRun;
        QTimer::singleShot(0, [&] { answer = boxes.confirm("Are you sure you want to download this Database Template: "); });
        QTimer::singleShot(200, [&] {
            boxWasUp = QApplication::activeModalWidget() != nullptr;
            ::raise(SIGTERM);
        });
        // Only so that a broken signal path fails instead of hanging.
        QTimer::singleShot(30000, &mainWindowRun, [&] { mainWindowRun.exit(1); });
        QCOMPARE(mainWindowRun.exec(), 0);
        QVERIFY(boxWasUp);
        QVERIFY(!answer);
        QVERIFY(endRequested());
    }
};

QTEST_MAIN(TerminationTest)
#include "termination_test.moc"
