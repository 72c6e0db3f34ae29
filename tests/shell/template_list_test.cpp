// The template list filled as the catalogue fills it, with a catalogue of
// twenty thousand templates and a screen reader listening: the list changes
// once per fill, not once per template.
#include "recording_boxes.h"
#include "shell/Unit3.h"
#include "shell/single_choice_list.h"
#include "window_controls.h"

#include <QAccessible>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace quill;
using testing::control;

namespace {

std::vector<QAccessible::Event>* heard = nullptr;
QObject* listening = nullptr;

// What assistive technology would be told about the list or anything in it.
void hear(QAccessibleEvent* event) {
    auto* widget = qobject_cast<QWidget*>(event->object());
    if (heard && widget && (widget == listening || static_cast<QWidget*>(listening)->isAncestorOf(widget)))
        heard->push_back(event->type());
}

std::vector<TemplateItem> templates(int count, const std::string& prefix) {
    std::vector<TemplateItem> out;
    for (int i = 0; i < count; ++i) out.push_back({prefix + " " + std::to_string(i), i + 1});
    return out;
}

}  // namespace

class TemplateListTest : public QObject {
    Q_OBJECT
private slots:
    void aFillIsOneChangeForAssistiveTechnology() {
        testing::RecordingBoxes boxes;
        testing::BoxesScope scope(boxes);
        TForm3 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* list = control<SingleChoiceList>(form, "ListBox1");
        std::vector<QAccessible::Event> events;
        heard = &events;
        listening = list;
        QAccessible::installUpdateHandler(&hear);
        QPlatformAccessibility* bridge = QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(bridge);
        bridge->setActive(true);  // as when a screen reader starts
        CatalogueView& view = form;

        view.setTemplates(templates(20000, "Template"));
        QCOMPARE(std::count(events.begin(), events.end(), QAccessible::TableModelChanged), 1);
        QVERIFY(events.size() <= 3);
        events.clear();
        view.setTemplates(templates(20000, "Found"));
        QCOMPARE(std::count(events.begin(), events.end(), QAccessible::TableModelChanged), 1);

        QAccessible::installUpdateHandler(nullptr);
        heard = nullptr;
        QCOMPARE(view.templateCount(), 20000);
        QCOMPARE(view.selectedTemplate(), -1);
        view.selectTemplate(0);
        QCOMPARE(view.templateText(19999), std::string("Found 19999"));
        QCOMPARE(view.templateId(19999), 20000);
        QCOMPARE(view.selectedTemplate(), 0);
        QVERIFY(boxes.shown.empty());
    }
};

QTEST_MAIN(TemplateListTest)
#include "template_list_test.moc"
