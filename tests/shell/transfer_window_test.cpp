// A download from a slow host as the main window shows it: the bar, the
// amounts and "Cancel" beside the status text while it runs, nothing after,
// and Cancel or Escape stopping it while every other input stays blocked.
#include "recording_boxes.h"
#include "shell/Unit3.h"
#include "support/error_of.h"
#include "vendorkit/http_server.h"
#include "window_controls.h"
#include "workspace/transfer/http_client.h"
#include "workspace/transfer/progress_sink.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QAccessible>
#include <QApplication>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

using namespace quill;
using testing::control;

namespace {

using Clock = std::chrono::steady_clock;

// What the transfer display showed at one moment.
struct Glimpse {
    bool bar = false;
    bool cancel = false;
    QString amount;
    int value = 0;
    int maximum = 0;
    QString status;
};

}  // namespace

class TransferWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        scope = std::make_unique<testing::BoxesScope>(boxes);
        form = std::make_unique<TForm3>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        server = std::make_unique<vendorkit::HttpServer>();
        vendorkit::HttpResponse sized = vendorkit::HttpResponse::ok(std::string(600 * 1024, 's'));
        sized.bytesPerSecond = 1024 * 1024;
        server->route("/sized.zip", sized);
        vendorkit::HttpResponse unsized = sized;
        unsized.framing = vendorkit::BodyFraming::Chunked;
        server->route("/unsized.zip", unsized);
        vendorkit::HttpResponse big = vendorkit::HttpResponse::ok(std::string(4 << 20, 'b'));
        big.bytesPerSecond = 1024 * 1024;
        server->route("/big.zip", big);
    }

    void cleanup() {
        form.reset();
        server.reset();
        scope.reset();
    }

    void theDisplayShowsWhileADownloadRunsAndGoesAfter() {
        form->setStatus("Downloading Template File...");
        QVERIFY(!bar()->isVisible() && !cancelButton()->isVisible());

        Glimpse sized = glimpseDuring("/sized.zip");
        QVERIFY(sized.bar && sized.cancel);
        QVERIFY2(QRegularExpression("^\\d+ of 600 KB$").match(sized.amount).hasMatch(), qPrintable(sized.amount));
        QVERIFY(sized.value > 0 && sized.value < sized.maximum);
        QCOMPARE(sized.status, QString("Downloading Template File..."));
        QVERIFY(!bar()->isVisible() && !cancelButton()->isVisible() && !amount()->isVisible());
        QCOMPARE(form->findChild<QStatusBar*>("StatusBar1")->currentMessage(), QString("Downloading Template File..."));

        Glimpse unsized = glimpseDuring("/unsized.zip");
        QVERIFY(unsized.bar && unsized.cancel);
        QCOMPARE(unsized.maximum, 0);  // busy: the size is not known
        QVERIFY2(QRegularExpression("^\\d+ KB$").match(unsized.amount).hasMatch(), qPrintable(unsized.amount));
        QVERIFY(!bar()->isVisible());
        QVERIFY(boxes.shown.empty());
    }

    void cancelOrEscapeStopsTheDownloadAndNothingElseGetsThrough() {
        auto* search = control<QPushButton>(*form, "Button1");
        auto* words = control<QLineEdit>(*form, "Edit2");
        QSignalSpy searches(search, &QPushButton::pressed);
        const auto clickOnTheWindow = [&](QWidget* target) {
            QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {},
                              target->mapTo(form.get(), target->rect().center()));
        };

        // Cancel clicked where the user clicks it: the window gets the click first.
        Clock::time_point cancelledAt{};
        const std::string clicked = fetchWhile("/big.zip", [&] {
            clickOnTheWindow(search);
            QTest::keyClicks(words, "abc");
            cancelledAt = Clock::now();
            clickOnTheWindow(cancelButton());
        });
        QCOMPARE(clicked, std::string("Download cancelled."));
        QVERIFY(Clock::now() - cancelledAt < std::chrono::milliseconds(500));
        QCOMPARE(searches.count(), 0);
        QCOMPARE(words->text(), QString());
        QVERIFY(!cancelButton()->isVisible());

        // Escape, wherever the focus is.
        words->setFocus();
        const std::string escaped = fetchWhile("/big.zip", [&] { QTest::keyClick(words, Qt::Key_Escape); });
        QCOMPARE(escaped, std::string("Download cancelled."));
        QVERIFY(form->isVisible());

        // The next download is not cancelled by the last one's click.
        QCOMPARE(fetchWhile("/sized.zip", [] {}), std::string("<no error>"));
        QTest::keyClicks(words, "abc");
        QCOMPARE(words->text(), QString("abc"));
    }

    // A screen reader asks the window one thing at a time and waits for each
    // answer; during a download the answers must come as quickly as when idle.
    void aScreenReaderIsAnsweredAtOnceDuringADownload() {
        ScreenReader idle(form.get());
        while (!idle.done) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        idle.thread.join();

        std::unique_ptr<ScreenReader> during;
        const std::string ended = fetchWhile("/big.zip", [&] {
            during = std::make_unique<ScreenReader>(form.get(), cancelButton());
        });
        // Had the download ended first, the reader would still be waiting for answers.
        while (!during->done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        during->thread.join();
        qInfo("100 walks of the accessibility tree: %.3f s idle, %.3f s during a download", idle.seconds,
              during->seconds);
        QCOMPARE(ended, std::string("Download cancelled."));
        QVERIFY(during->downloadStillRan);
        QVERIFY2(during->seconds < 0.5 + 10 * idle.seconds,
                 qPrintable(QString("idle %1 s, during a download %2 s").arg(idle.seconds).arg(during->seconds)));
    }

    // Before the main window is up, a shown download comes in a window of its own.
    void withoutTheMainWindowADownloadHasAWindowWithCancel() {
        form->hide();
        form->setStatus("Downloading Template List...");
        QWidget* seen = nullptr;
        QString text;
        const std::string cancelled = fetchWhile("/big.zip", [&] {
            seen = transferWindow();
            QVERIFY(seen && seen->isVisible());
            text = seen->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly)->text();
            QTest::mouseClick(seen->findChild<QPushButton*>("TransferCancel"), Qt::LeftButton);
        });
        QCOMPARE(cancelled, std::string("Download cancelled."));
        QCOMPARE(text, QString("Downloading Template List..."));
        QVERIFY(!transferWindow());

        // Escape, and closing the window, cancel as well.
        for (const auto& stop : std::vector<std::function<void(QWidget*)>>{
                 [](QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); },
                 [](QWidget* window) { window->close(); }}) {
            QCOMPARE(fetchWhile("/big.zip", [&] { stop(transferWindow()); }), std::string("Download cancelled."));
        }
        // A quick download never shows it.
        server->serveBytes("/quick.zip", "q");
        QCOMPARE(fetchWhile("/quick.zip", [] {}), std::string("<no error>"));
        QVERIFY(!transferWindow());
    }

private:
    static QWidget* transferWindow() {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "TransferWindow" && top->isVisible()) return top;
        return nullptr;
    }

    // Walks the window's accessibility tree 100 times from a thread of its own,
    // each walk a round trip into the window's thread, as a screen reader's
    // calls are; then cancels the download, if one still runs.
    struct ScreenReader {
        explicit ScreenReader(QWidget* window, QPushButton* cancel = nullptr) {
            thread = std::thread([this, window, cancel] {
                const auto start = Clock::now();
                for (int i = 0; i < 100; ++i)
                    QMetaObject::invokeMethod(
                        window, [window] { readTree(QAccessible::queryAccessibleInterface(window)); },
                        Qt::BlockingQueuedConnection);
                seconds = std::chrono::duration<double>(Clock::now() - start).count();
                if (cancel)
                    QMetaObject::invokeMethod(
                        cancel,
                        [this, cancel] {
                            downloadStillRan = cancel->isVisible();
                            cancel->click();
                        },
                        Qt::BlockingQueuedConnection);
                done = true;
                QMetaObject::invokeMethod(window, [] {}, Qt::QueuedConnection);  // wakes a waiting loop
            });
        }
        std::thread thread;
        std::atomic<bool> done{false};
        double seconds = 0;
        bool downloadStillRan = false;
    };

    static void readTree(QAccessibleInterface* node) {
        if (!node) return;
        (void)node->text(QAccessible::Name);
        for (int i = 0; i < node->childCount(); ++i) readTree(node->child(i));
    }

    QProgressBar* bar() const { return control<QProgressBar>(*form, "TransferBar"); }
    QLabel* amount() const { return control<QLabel>(*form, "TransferAmount"); }
    QPushButton* cancelButton() const { return control<QPushButton>(*form, "TransferCancel"); }

    // Fetches path as a shown download; the user acts a third of a second in.
    std::string fetchWhile(const std::string& path, const std::function<void()>& act) {
        QTimer::singleShot(300, form.get(), act);
        MemorySink target;
        ProgressSink sink(target, *form, ProgressSink::Display::Shown);
        return testing::errorOf([&] { client.fetch(server->url(path), sink); });
    }

    Glimpse glimpseDuring(const std::string& path) {
        Glimpse seen;
        const std::string error = fetchWhile(path, [&] {
            seen = {bar()->isVisible(), cancelButton()->isVisible(), amount()->text(), bar()->value(),
                    bar()->maximum(), form->findChild<QStatusBar*>("StatusBar1")->currentMessage()};
        });
        if (error != "<no error>") qWarning("%s", error.c_str());
        return seen;
    }

    testing::RecordingBoxes boxes;
    std::unique_ptr<testing::BoxesScope> scope;
    std::unique_ptr<TForm3> form;
    std::unique_ptr<vendorkit::HttpServer> server;
    HttpClient client;
};

QTEST_MAIN(TransferWindowTest)
#include "transfer_window_test.moc"
