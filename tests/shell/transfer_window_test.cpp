// A download from a slow host as the main window shows it: the bar, the
// amounts and "Cancel" beside the status text while it runs, nothing after,
// and Cancel or Escape stopping it while every other input stays blocked.
#include "recording_boxes.h"
#include "shell/Unit3.h"
#include "support/error_of.h"
#include "vendorkit/http_server.h"
#include "window_controls.h"
#include "workspace/http_client.h"
#include "workspace/progress_sink.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <functional>
#include <memory>

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

private:
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
