#include "shell/input_blocker.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>

namespace quill {

InputBlocker::InputBlocker(QWidget* window) : QObject(window), window_(window) {}

InputBlocker::~InputBlocker() { setBlocked(false); }

void InputBlocker::setBlocked(bool blocked) {
    if (blocked == blocked_) return;
    blocked_ = blocked;
    if (blocked) {
        qApp->installEventFilter(this);
    } else {
        qApp->removeEventFilter(this);
    }
}

void InputBlocker::letThrough(QWidget* control) { letThrough_ = control; }

bool InputBlocker::letsThrough(const QWidget* widget) const {
    return widget && letThrough_ && (widget == letThrough_ || letThrough_->isAncestorOf(widget));
}

namespace {

bool isMousePress(const QEvent* event) {
    return event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
}

}  // namespace

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (letsThrough(widget)) return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::TouchBegin:
    case QEvent::ContextMenu: {
        auto* native = qobject_cast<QWindow*>(watched);
        const bool inWindow = window_ && ((widget && widget->window() == window_) ||
                                          (native && window_->windowHandle() == native));
        if (!inWindow) return false;
        if (native && event->type() == QEvent::MouseButtonRelease) return false;  // no button stays down
        if (native && isMousePress(event) && letsThrough(window_->childAt(window_->mapFromGlobal(
                                            static_cast<QMouseEvent*>(event)->globalPosition().toPoint()))))
            return false;
        // The first receiver swallows the press, so it is announced once.
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            emit escapePressed();
        return true;
    }
    default:
        return false;
    }
}

}  // namespace quill
