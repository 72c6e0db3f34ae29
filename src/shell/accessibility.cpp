#include "shell/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFrame>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace quill {

namespace {

QAccessibleInterface* ourRoles(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    // A plain window reads as "filler"; these are dialogs to the user.
    if (className == QLatin1String("quill::TForm4") || className == QLatin1String("quill::TTemplateWaitForm") ||
        className == QLatin1String("quill::TransferWindow"))
        return new QAccessibleWidget(widget, QAccessible::Dialog);
    if (className == QLatin1String("quill::TransferDisplay")) return new QAccessibleWidget(widget, QAccessible::Grouping);
    // The main window's panels group what they hold; they read as frames otherwise.
    if (className == QLatin1String("QFrame") && widget->objectName().startsWith(QLatin1String("Panel")))
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    if (className == QLatin1String("QScrollArea") && widget->objectName() == QLatin1String("LeftColumn"))
        return new QAccessibleWidget(widget, QAccessible::Pane);
    return nullptr;
}

}  // namespace

void installAccessibleRoles() { QAccessible::installFactory(&ourRoles); }

void announce(QWidget* widget) {
    QAccessibleEvent event(widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
}

void hideUnshownRenderWindows() {
    // Held by a plain window that is never shown: it has no accessible side
    // of its own, and at the origin it leaves the positions of the windows it
    // holds as they were.
    static QWindow* holder = new QWindow;
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (window->inherits("QQuickWidgetOffscreenWindow")) window->setParent(holder);
}

}  // namespace quill
