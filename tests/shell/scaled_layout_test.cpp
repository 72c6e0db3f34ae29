// The windows on a 1024 x 768 screen at the scale given as the program's
// argument (1 when none): "Download" and the status bar stay on the screen,
// and the first window fits it. The scale is fixed before the application
// starts, so each scale runs as a program of its own.
#include "recording_boxes.h"
#include "shell/Unit3.h"
#include "shell/Unit4.h"
#include "window_controls.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QtTest>

using namespace quill;
using testing::control;

namespace {

QRect onScreen(QWidget* widget) { return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()); }

}  // namespace

class ScaledLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void downloadAndTheStatusBarStayOnTheScreen() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        TForm3 form;
        form.showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect screen = form.screen()->availableGeometry();
        const QSize pixels = form.screen()->size() * form.screen()->devicePixelRatio();
        QVERIFY(qAbs(pixels.width() - 1024) <= 1 && qAbs(pixels.height() - 768) <= 1);
        QTRY_VERIFY(screen.contains(form.frameGeometry()));
        QWidget* download = control(form, "BitBtn1");
        QWidget* status = control(form, "StatusBar1");
        QVERIFY2(screen.contains(onScreen(download)), qPrintable(QString("Download at %1,%2 on %3x%4")
                                                                     .arg(onScreen(download).x())
                                                                     .arg(onScreen(download).y())
                                                                     .arg(screen.width())
                                                                     .arg(screen.height())));
        QVERIFY(screen.contains(onScreen(status)));
        QCOMPARE(status->height(), 19);
        // Nothing covers them: both lie inside their parents.
        QVERIFY(download->parentWidget()->rect().contains(download->geometry()));
        QVERIFY(onScreen(&form).contains(onScreen(status)));
        // Every control of the left column can still be reached.
        auto* column = control<QScrollArea>(form, "LeftColumn");
        QWidget* description = control(form, "Memo1");
        column->ensureWidgetVisible(description);
        QVERIFY(onScreen(column->viewport()).contains(onScreen(description)));
        QVERIFY(control(form, "ListBox1")->height() >= 50);
        QVERIFY(description->height() >= 40);
    }

    // The list gives up height first, down to three names; then the description.
    void theListThenTheDescriptionGiveUpHeight() {
        if (QGuiApplication::primaryScreen()->availableGeometry().height() < 574) QSKIP("the screen is too short");
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        TForm3 form;
        QWidget* list = control(form, "ListBox1");
        QWidget* details = control(form, "Panel5");
        QWidget* description = control(form, "Memo1");
        auto* column = control<QScrollArea>(form, "LeftColumn");
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        struct Case {
            int height, list, details;
        };
        // Designed: 574. The column is the height less Download's panel and the status bar (60).
        for (Case c : {Case{574, 113, 272}, Case{500, 50, 261}, Case{420, 50, 198}, Case{360, 50, 198}}) {
            form.resize(838, c.height);
            QTRY_COMPARE(form.height(), c.height);
            QTRY_COMPARE(details->height(), c.details);
            QCOMPARE(description->height(), c.details - 151 - 7);
            QCOMPARE(list->height(), c.list);
            QCOMPARE(control(form, "BitBtn1")->geometry(), QRect(473, 10, 105, 25));
            // Below the least of both, the column scrolls, its bar beside it.
            const bool scrolls = c.height - 60 < 2 + 111 + 16 + 50 + 198;
            QTRY_COMPARE(column->verticalScrollBar()->isVisible(), scrolls);
            QCOMPARE(control(form, "Panel2")->width(), 401);
        }
    }

    void theFirstWindowFitsTheScreen() {
        TForm4 first;
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        const QRect screen = first.screen()->availableGeometry();
        QVERIFY(screen.contains(first.frameGeometry()));
        QWidget* next = control(first, "BitBtn1");
        QVERIFY(first.rect().contains(next->geometry()));
        QVERIFY(first.rect().contains(control(first, "Label1")->geometry()));
        if (screen.width() >= 645 + 16) QCOMPARE(first.size(), QSize(645, 136));
    }
};

// A 1024 x 768 screen, and the scale from the first argument.
int main(int argc, char* argv[]) {
    QByteArray scale = "1";
    if (argc > 1 && argv[1][0] != '-') {
        scale = argv[1];
        for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
        --argc;
    }
    const QString config = QDir::temp().filePath(QString("quill_screen_%1.json").arg(QCoreApplication::applicationPid()));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(config));
    file.write(R"({"screens": [{"name": "Screen", "x": 0, "y": 0, "width": 1024, "height": 768,
                   "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toUtf8());
    qputenv("QT_SCALE_FACTOR", scale);
    QApplication app(argc, argv);
    ScaledLayoutTest test;
    const int failed = QTest::qExec(&test, argc, argv);
    QFile::remove(config);
    return failed;
}

#include "scaled_layout_test.moc"
