#include "shell/key_filter.h"

#include <QEvent>
#include <QKeyEvent>

namespace quill {

namespace {
bool isEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }
}  // namespace

bool DetailKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        // Tab moves the focus once: an ignored Tab would travel on to the
        // panel, which would move it again.
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) return false;
        if (isEnter(key)) {
            // Left to the window: Enter reaches the default button.
            event->ignore();
            return false;
        }
        return true;
    }
    case QEvent::ShortcutOverride:
        // Keeps Ctrl+V, Ctrl+X and the like from being claimed by the field.
        event->accept();
        return true;
    case QEvent::InputMethod:
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

bool SwallowEnterFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && isEnter(static_cast<QKeyEvent*>(event)->key())) return true;
    return QObject::eventFilter(watched, event);
}

}  // namespace quill
