// The main window for a user without a mouse or without sight: Tab and
// Shift+Tab through every control in the window's order, the focus drawn where
// it is, what a screen reader reads and hears, and a download under the
// progress window shown in it alone.
#include "recording_boxes.h"
#include "shell/_tempinst.h"
#include "shell/Unit3.h"
#include "shell/Unit4.h"
#include "shell/single_choice_list.h"
#include "shell/transfer_window.h"
#include "window_controls.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QWebEngineView>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>
#include <QtTest>

#include <memory>
#include <vector>

using namespace quill;
using testing::control;

namespace {

// The controls that take the focus, in the window's tab order (the licence
// and price fields are hidden).
const QStringList kTabOrder = {"ComboBox1", "Edit2", "Button1", "Button2", "ListBox1",    "Edit1",
                               "Memo1",     "Edit5", "Edit6",   "WebBrowser1", "BitBtn1"};

// The named control that holds the focus: the preview's renderer counts as the preview.
QString focusedControl(const QWidget& window) {
    QWidget* focus = QApplication::focusWidget();
    for (QWidget* at = focus; at && at != &window; at = at->parentWidget())
        if (at->objectName() == "WebBrowser1") return at->objectName();
    return focus ? focus->objectName() : QString("<none>");
}

struct Heard {
    QAccessible::Event type;
    QObject* object;
};
std::vector<Heard>* heard = nullptr;
void hear(QAccessibleEvent* event) {
    if (heard) heard->push_back({event->type(), event->object()});
}
bool wasHeard(const std::vector<Heard>& events, QAccessible::Event type, QObject* object) {
    for (const Heard& h : events)
        if (h.type == type && h.object == object) return true;
    return false;
}

// Every node a screen reader reaches from node, but the preview's page, which is the page author's.
void collect(QAccessibleInterface* node, std::vector<QAccessibleInterface*>& out) {
    if (!node || node->state().invisible) return;
    out.push_back(node);
    if (node->object() && node->object()->objectName() == "WebBrowser1") return;
    for (int i = 0; i < node->childCount(); ++i) collect(node->child(i), out);
}

// Qt's own inner parts of scrolling controls, which no user addresses.
bool innerPart(QAccessibleInterface* node) {
    const QAccessible::Role role = node->role();
    return role == QAccessible::ScrollBar || role == QAccessible::Grip ||
           (node->object() && node->object()->objectName().startsWith("qt_"));
}

}  // namespace

class WindowAccessTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        scope = std::make_unique<testing::BoxesScope>(boxes);
        form = std::make_unique<TForm3>();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        CatalogueView& view = *form;
        view.setTemplates({{"Cash Book", 1}, {"Recipes", 2}});
        view.selectTemplate(0);
        form->previewPage();
        // The renderer is made a moment after the page.
        QTRY_VERIFY(control(*form, "WebBrowser1")->focusProxy());
    }

    void cleanup() {
        form.reset();
        scope.reset();
    }

    void tabAndShiftTabFollowTheTabOrderBothWays() {
        control(*form, "ComboBox1")->setFocus();
        QStringList forward{focusedControl(*form)};
        QStringList expected = kTabOrder;
        expected << "ComboBox1";  // round again
        for (int i = 1; i < expected.size(); ++i) {
            const QString before = focusedControl(*form);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            // The preview hands the focus on when its page has no more to take.
            QTRY_VERIFY(focusedControl(*form) != before);
            forward << focusedControl(*form);
        }
        QCOMPARE(forward, expected);

        QStringList backward{focusedControl(*form)};
        for (int i = 1; i < expected.size(); ++i) {
            const QString before = focusedControl(*form);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QTRY_VERIFY(focusedControl(*form) != before);
            backward << focusedControl(*form);
        }
        std::reverse(expected.begin(), expected.end());
        QCOMPARE(backward, expected);
        QVERIFY(boxes.shown.empty());
    }

    void theFocusedControlIsDrawnDifferently() {
        QStringList unmarked;
        for (const char* name : {"ComboBox1", "Button1", "ListBox1", "Memo1", "WebBrowser1", "BitBtn1"}) {
            QWidget* target = control(*form, name);
            // With its edge, where a ring may be drawn.
            const QRect area(target->mapTo(form.get(), QPoint(-3, -3)), target->size() + QSize(6, 6));
            QWidget* elsewhere = control(*form, name == std::string("Edit2") ? "Edit5" : "Edit2");
            elsewhere->setFocus();
            QTRY_COMPARE(focusedControl(*form), elsewhere->objectName());
            const QImage unfocused = form->grab(area).toImage();
            target->setFocus();
            QTRY_COMPARE(focusedControl(*form), QString(name));
            const QImage focused = form->grab(area).toImage();
            if (focused == unfocused) unmarked << name;
        }
        QVERIFY2(unmarked.isEmpty(), qPrintable(unmarked.join(", ")));
    }

    void everyControlHasANameAndARole() {
        CatalogueView& view = *form;
        view.setTemplates({{"Cash Book", 1}});
        form->showProgress();
        form->setProgressBarVisible(true);
        form->setProgressPosition(50);
        form->beginTransfer(true);
        form->showTransfer(130 * 1024, 152 * 1024);
        TForm4 first;
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));

        std::vector<QAccessibleInterface*> nodes;
        collect(QAccessible::queryAccessibleInterface(qApp), nodes);
        QStringList unnamed, noRole, windows;
        for (QAccessibleInterface* node : nodes) {
            if (node->role() == QAccessible::Application) continue;
            const QString what = node->object() ? node->object()->objectName() : QString("?");
            if (innerPart(node)) continue;
            if (node->text(QAccessible::Name).isEmpty()) unnamed << what;
            // The preview's role is the browser engine's, whose node carries the page.
            if (what == "WebBrowser1") continue;
            if (node->role() == QAccessible::NoRole || node->role() == QAccessible::Client)
                noRole << what + "/" + (node->object() ? node->object()->metaObject()->className() : "");
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
        QVERIFY2(noRole.isEmpty(), qPrintable(noRole.join(", ")));
        // Our three windows as dialogs, and nothing that is not on the screen.
        QAccessibleInterface* application = QAccessible::queryAccessibleInterface(qApp);
        for (int i = 0; i < application->childCount(); ++i)
            windows << QString("%1 %2").arg(int(application->child(i)->role())).arg(application->child(i)->text(QAccessible::Name));
        windows.sort();
        const QString dialog = QString::number(int(QAccessible::Dialog));
        QCOMPARE(windows, (QStringList{dialog + " Download Template and Update Program Files",
                                       dialog + " Finalizing Setup", dialog + " Template Installation"}));

        const auto node = [](QWidget* widget) { return QAccessible::queryAccessibleInterface(widget); };
        // The catalogue's download, before the main window is up, comes in a dialog too.
        TransferWindow catalogueDownload("Download Template and Update Program Files", "Downloading Template List...");
        QCOMPARE(node(&catalogueDownload)->role(), QAccessible::Dialog);
        QCOMPARE(node(control(*form, "ListBox1"))->text(QAccessible::Name), QString("Template List"));
        QCOMPARE(node(control(*form, "Edit1"))->text(QAccessible::Name), QString("Name :"));
        QCOMPARE(node(control(*form, "WebBrowser1"))->text(QAccessible::Name), QString("Template preview"));
        QAccessibleInterface* bar = node(control(*TemplateWaitForm, "ProgressBar1"));
        QCOMPARE(bar->role(), QAccessible::ProgressBar);
        QVERIFY(!bar->text(QAccessible::Name).isEmpty());
        QCOMPARE(bar->valueInterface()->currentValue().toInt(), 50);
        QAccessibleInterface* downloadBar = node(control(*form, "TransferBar"));
        QCOMPARE(downloadBar->role(), QAccessible::ProgressBar);
        QVERIFY(!downloadBar->text(QAccessible::Name).isEmpty());
        form->endTransfer();
        form->freeProgress();
    }

    void theStartAndEndOfALongStepAreHeard() {
        std::vector<Heard> events;
        heard = &events;
        QAccessible::installUpdateHandler(&hear);
        QPlatformAccessibility* bridge = QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(bridge);
        bridge->setActive(true);  // as when a screen reader starts

        form->showProgress();
        QWidget* progress = TemplateWaitForm;
        QVERIFY(wasHeard(events, QAccessible::Alert, progress));
        QTRY_COMPARE(QApplication::activeWindow(), progress);
        form->freeProgress();
        QVERIFY(wasHeard(events, QAccessible::Alert, control(*form, "StatusBar1")));
        QTRY_COMPARE(QApplication::activeWindow(), form.get());
        form->setStatus("Template File Downloaded");
        QVERIFY(wasHeard(events, QAccessible::NameChanged, control(*form, "StatusBar1")));
        QCOMPARE(QAccessible::queryAccessibleInterface(control(*form, "StatusBar1"))->text(QAccessible::Name),
                 QString("Template File Downloaded"));

        QAccessible::installUpdateHandler(nullptr);
        heard = nullptr;
    }

    void aDownloadUnderTheProgressWindowShowsInItAlone() {
        form->showProgress();
        TTemplateWaitForm* progress = TemplateWaitForm;
        form->setProgressBarVisible(true);
        form->beginTransfer(true);
        form->showTransfer(130 * 1024, 152 * 1024);
        QVERIFY(!control(*form, "TransferDisplay")->isVisible());  // nothing in the status bar
        auto* amount = control<QLabel>(*progress, "TransferAmount");
        auto* cancel = control<QPushButton>(*progress, "TransferCancel");
        QVERIFY(amount->isVisible() && cancel->isVisible());
        QCOMPARE(amount->text(), QString("130 of 152 KB"));
        QVERIFY(!control(*progress, "TransferBar")->isVisible());  // the window's own bar tells the share
        QVERIFY(control(*progress, "ProgressBar1")->isVisible());
        // Inside the window's fixed size, clear of the label and the bar.
        const QRect shown(cancel->mapTo(progress, QPoint(0, 0)), cancel->size());
        QVERIFY(progress->rect().contains(shown));
        QVERIFY(!shown.intersects(control(*progress, "ProgressBar1")->geometry()));
        QVERIFY(!shown.intersects(control(*progress, "Label1")->geometry()));

        // The user cannot close it while the step runs; Escape in it cancels.
        QVERIFY(!progress->close());
        QVERIFY(progress->isVisible());
        QVERIFY(!form->transferCancelled());
        QTest::keyClick(progress, Qt::Key_Escape);
        QVERIFY(form->transferCancelled());
        form->endTransfer();
        form->freeProgress();

        // Without the progress window, a download shows in the status bar as before.
        form->beginTransfer(true);
        form->showTransfer(1024, 2048);
        QVERIFY(control(*form, "TransferDisplay")->isVisible());
        form->endTransfer();
    }

    void longNamesShowTheirStart() {
        const std::string name = "Household Budget with Monthly Summaries, Yearly Reports and Savings Goals";
        CatalogueView& view = *form;
        view.setTemplates({{name, 7}});
        view.showName(name);
        view.showKeywords(name);
        view.showNumber(name);
        for (const char* field : {"Edit1", "Edit5", "Edit6"}) {
            QCOMPARE(control<QLineEdit>(*form, field)->cursorPosition(), 0);
            QCOMPARE(control<QLineEdit>(*form, field)->text().toStdString(), name);
        }
        auto* list = control<SingleChoiceList>(*form, "ListBox1");
        QCOMPARE(list->model()->index(0, 0).data(Qt::ToolTipRole).toString().toStdString(), name);
    }

private:
    testing::RecordingBoxes boxes;
    std::unique_ptr<testing::BoxesScope> scope;
    std::unique_ptr<TForm3> form;
};

QTEST_MAIN(WindowAccessTest)
#include "window_access_test.moc"
