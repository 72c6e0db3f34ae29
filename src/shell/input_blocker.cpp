#include "shell/input_blocker.h"

#include <QApplication>
#include <QEvent>
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

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
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
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && window_ && widget->window() == window_) return true;
        if (auto* w = qobject_cast<QWindow*>(watched); w && window_ && window_->windowHandle() == w) return true;
        return false;
    }
    default:
        return false;
    }
}

}  // namespace quill
