// The three windows as the user meets them: their look, the main window's
// layout when it grows, the key filter, the default button and blocked input.
#include "platform/error.h"
#include "recording_boxes.h"
#include "shell/_tempinst.h"
#include "shell/error_display.h"
#include "shell/Unit3.h"
#include "shell/Unit4.h"
#include "window_controls.h"
#include "workspace/app/names.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace quill;
using testing::control;

namespace {

QRect inWindow(QWidget* widget) {
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

}  // namespace

class WindowsTest : public QObject {
    Q_OBJECT
private slots:
    void finishingWindowLooksAsDesigned() {
        TForm4 form;
        auto* label = control<QLabel>(form, "Label1");
        auto* next = control<QPushButton>(form, "BitBtn1");
        QCOMPARE(form.windowTitle(), QString("Finalizing Setup"));
        QCOMPARE(form.size(), QSize(645, 136));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
        QCOMPARE(label->text(), QString("Please, complete the final steps of the Quillary Setup"));
        QCOMPARE(label->geometry(), QRect(24, 24, 585, 49));
        QVERIFY(label->wordWrap());
        QCOMPARE(next->text(), QString("Next >>"));
        QCOMPARE(next->geometry(), QRect(272, 91, 89, 33));
        QVERIFY(next->isDefault());
        QCOMPARE(form.font().family(), QString("Tahoma"));
        QCOMPARE(form.font().pixelSize(), 16);
    }

    void mainWindowAreasKeepTheirAlignmentWhenResized() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        TForm3 form;
        const auto at = [&](const char* name) { return inWindow(control(form, name)); };
        const auto placed = [&](const char* name) { return control(form, name)->geometry(); };
        QCOMPARE(form.windowTitle(), QString("Download Template and Update Program Files"));
        for (QSize size : {QSize(838, 574), QSize(1280, 900)}) {
            form.resize(size);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QCOMPARE(form.size(), size);
            const int w = size.width(), h = size.height();
            QCOMPARE(at("StatusBar1"), QRect(0, h - 19, w, 19));
            QCOMPARE(at("Panel6"), QRect(0, h - 60, w, 41));
            QCOMPARE(at("Panel2"), QRect(0, 0, 401, h - 60));
            QCOMPARE(at("Panel4"), QRect(401, 0, w - 401, h - 60));
            QCOMPARE(at("Panel3"), QRect(1, 1, 399, 111));
            QCOMPARE(at("Label1").topLeft(), QPoint(1, 112));
            QCOMPARE(at("ListBox1"), QRect(1, 128, 399, h - 60 - 1 - 272 - 128));
            QCOMPARE(at("Panel5"), QRect(1, h - 60 - 1 - 272, 399, 272));
            QCOMPARE(placed("BitBtn1"), QRect(473, 10, 105, 25));
            QCOMPARE(placed("ComboBox1"), QRect(8, 24, 378, 24));
            QCOMPARE(placed("Memo1"), QRect(8, 151, 378, 114));
            QCOMPARE(at("WebBrowser1"), QRect(402, 1, w - 403, h - 62));
        }
        QVERIFY(!control(form, "Edit3")->isVisible() && !control(form, "Edit4")->isVisible());
        QVERIFY(!control(form, "Label6")->isVisible() && !control(form, "Label7")->isVisible());
        QCOMPARE(control<QLabel>(form, "Label5")->buddy(), control(form, "Edit2"));
        QCOMPARE(control<QLabel>(form, "Label3")->buddy(), control(form, "Memo1"));
        QCOMPARE(control<QLabel>(form, "Label1")->buddy(), control(form, "ListBox1"));
        const QIcon picture = control<QPushButton>(form, "BitBtn1")->icon();
        QVERIFY(!picture.pixmap(16, 16, QIcon::Normal).isNull());
        QVERIFY(picture.pixmap(16, 16, QIcon::Normal).toImage() != picture.pixmap(16, 16, QIcon::Disabled).toImage());
        QCOMPARE(form.font().pixelSize(), 13);
        QVERIFY(boxes.shown.empty());
    }

    void detailFieldsIgnoreTheKeyboard() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        TForm3 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QApplication::clipboard()->setText("pasted");
        for (const char* name : {"Edit1", "Edit5", "Edit6"}) {
            auto* field = control<QLineEdit>(form, name);
            field->setText("Contacts");
            field->setFocus();
            field->setCursorPosition(3);
            QTest::keyClicks(field, "xyz");
            for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End})
                QTest::keyClick(field, key);
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
            QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
            QCOMPARE(field->text(), QString("Contacts"));
            QCOMPARE(field->cursorPosition(), 3);
            QVERIFY(!field->isReadOnly());  // the mouse and the context menu still work
        }
    }

    void enterClicksDownloadExceptInTheDescription() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        TForm3 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QSignalSpy download(control<QPushButton>(form, "BitBtn1"), &QPushButton::clicked);
        QSignalSpy search(control<QPushButton>(form, "Button1"), &QPushButton::clicked);
        int expected = 0;
        for (const char* name : {"Edit2", "ListBox1", "Edit1", "Edit5"}) {
            QWidget* field = control(form, name);
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
            QCOMPARE(download.count(), ++expected);
        }
        QWidget* memo = control(form, "Memo1");
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_Return);
        QCOMPARE(download.count(), expected);
        QCOMPARE(search.count(), 0);
        // Nothing is selected, so Download did nothing at all.
        QVERIFY(boxes.shown.empty());
    }

    void escapeDoesNotCloseTheMainWindow() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        TForm3 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(form.isVisible());
    }

    void blockedWindowTakesNoInput() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        TForm3 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* downloadButton = control<QPushButton>(form, "BitBtn1");
        QSignalSpy download(downloadButton, &QPushButton::clicked);
        form.setInputBlocked(true);
        QTest::mouseClick(downloadButton, Qt::LeftButton);
        QTest::keyClick(control(form, "Edit2"), Qt::Key_Return);
        form.close();
        QCOMPARE(download.count(), 0);
        QVERIFY(form.isVisible());
        form.setInputBlocked(false);
        QTest::mouseClick(downloadButton, Qt::LeftButton);
        QCOMPARE(download.count(), 1);
    }

    void aLongStepMayCloseTheWindowItBlocks() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        TForm3 form;
        QTimer::singleShot(200, [&] {
            form.setInputBlocked(true);  // as during a successful update
            form.closeMainWindow();
            form.setInputBlocked(false);
        });
        QTimer::singleShot(5000, [&] { form.reject(); });  // only if the close failed
        form.runModal();
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
    }

    void progressWindowForBothUses() {
        TTemplateWaitForm wait;
        auto* label = control<QLabel>(wait, "Label1");
        QCOMPARE(wait.windowTitle(), QString("Template Installation"));
        QCOMPARE(wait.size(), QSize(440, 69));
        QVERIFY(wait.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(wait.windowFlags() & Qt::WindowCloseButtonHint));
        wait.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wait));
        QCOMPARE(wait.labelText(), QString("The template is being installed. Please, wait..."));
        QVERIFY(!wait.barVisible());
        const int designedWidth = label->width();
        wait.setLabelText("Downloading Latest Program Version...");
        wait.setBarVisible(true);
        wait.setPosition(50);
        QCOMPARE(label->pos(), QPoint(16, 14));
        QVERIFY(label->width() < designedWidth);
        QVERIFY(wait.barVisible());
        QCOMPARE(control<QProgressBar>(wait, "ProgressBar1")->geometry(), QRect(0, 53, 440, 16));
        QCOMPARE(wait.position(), 50);
    }

    void uncaughtErrorsGoToTheGeneralDisplay() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        QVERIFY(!guarded([] { throw AppError("Stream read error"); }));
        QCOMPARE(boxes.shown.size(), size_t(1));
        QVERIFY(QString::fromStdString(boxes.shown[0]).endsWith(":Stream read error."));
        QVERIFY(guarded([] {}));
    }

    void mainWindowStillShowsAfterAnUncaughtShowError() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        QTemporaryDir app;
        const std::string savedAppDir = AppDir;
        AppDir = app.path().toStdString() + "/";
        // A file where the temp folder belongs: temp.zip cannot be created.
        QFile blocker(app.path() + "/temp");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        TForm3 form;
        bool shownAfterError = false;
        QTimer::singleShot(300, [&] {
            shownAfterError = form.isVisible() && (form.windowState() & Qt::WindowMaximized);
            form.close();
        });
        form.runModal();
        AppDir = savedAppDir;
        QVERIFY(shownAfterError);
        QCOMPARE(boxes.shown.size(), size_t(1));
        QVERIFY(QString::fromStdString(boxes.shown[0]).startsWith("system:"));
        QVERIFY(QString::fromStdString(boxes.shown[0]).contains("Cannot create file"));
    }

    void nextRunsTheMainWindowAndEndsTheProgram() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        auto* form4 = new TForm4;
        form4->setAttribute(Qt::WA_DeleteOnClose, false);
        form4->show();
        QVERIFY(QTest::qWaitForWindowExposed(form4));
        bool sawMain = false, firstHidden = false;
        QTimer::singleShot(200, [&] {
            sawMain = Form3 && Form3->isVisible() && Form3->parent() == form4;
            firstHidden = !form4->isVisible();
            if (Form3) Form3->close();
        });
        QTest::keyClick(control<QPushButton>(*form4, "BitBtn1"), Qt::Key_Return);
        QVERIFY(sawMain);
        QVERIFY(firstHidden);
        QVERIFY(Form3 == nullptr);
        QVERIFY(!form4->isVisible());
        delete form4;
    }
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
