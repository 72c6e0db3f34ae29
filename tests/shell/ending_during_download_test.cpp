// A termination signal that comes while the main window's show step downloads
// the catalogue from a slow host: the download stops at once, and the window
// never opens, so the program ends as it would have without the download.
#include "recording_boxes.h"
#include "shell/Unit3.h"
#include "shell/termination.h"
#include "support/temp_folder.h"
#include "support/vendor_host.h"
#include "workspace/app/names.h"

#include <QTimer>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <memory>

using namespace quill;

class EndingDuringDownloadTest : public QObject {
    Q_OBJECT
private slots:
    void aSignalDuringTheCatalogueDownloadEndsTheWindowBeforeItOpens() {
        endOnTerminationSignals();
        testing::TempFolder app;
        resetBuiltInNames();
        AppDir = app.path();
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        // Twenty seconds of catalogue on this line.
        vendorkit::HttpResponse slow = vendorkit::HttpResponse::ok(std::string(2 << 20, 'c'));
        slow.bytesPerSecond = 100 * 1024;
        testing::vendorHostServer().route("/quillary-web-templates/temp.zip", slow);

        TForm3 form;
        bool openedAfterTheSignal = false;
        QTimer::singleShot(300, [] { ::raise(SIGTERM); });
        // Only so that a broken path fails instead of hanging.
        QTimer::singleShot(15000, &form, [&] {
            openedAfterTheSignal = form.isVisible();
            form.reject();
        });
        const auto start = std::chrono::steady_clock::now();
        form.runModal();
        QVERIFY(endRequested());
        QVERIFY(!openedAfterTheSignal);
        QVERIFY(!form.isVisible());
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(5));
    }
};

QTEST_MAIN(EndingDuringDownloadTest)
#include "ending_during_download_test.moc"
