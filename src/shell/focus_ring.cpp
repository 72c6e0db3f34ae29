#include "shell/focus_ring.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace quill {

namespace {
constexpr int kRingWidth = 2;
}

void keepFocusShown(QWidget* window) {
    window->setAttribute(Qt::WA_KeyboardFocusChange);
    QObject::connect(qApp, &QApplication::focusChanged, window, [window](QWidget*, QWidget* now) {
        if (now && now->window() == window) window->setAttribute(Qt::WA_KeyboardFocusChange);
    });
}

FocusRing::FocusRing(QWidget* ringed) : QFocusFrame(ringed->parentWidget()), ringed_(ringed) {
    setObjectName(ringed->objectName() + QStringLiteral("FocusRing"));
    ringed->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &FocusRing::follow);
    follow();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        follow();
        break;
    default:
        break;
    }
    return QFocusFrame::eventFilter(watched, event);
}

void FocusRing::follow() {
    QWidget* focus = QApplication::focusWidget();
    const bool focused = ringed_ && ringed_->isVisible() && focus && (focus == ringed_ || ringed_->isAncestorOf(focus));
    if (!focused) {
        hide();
        return;
    }
    setGeometry(ringed_->geometry());
    // Only the ring is ours: the control underneath stays visible.
    const QRegion outer(rect());
    setMask(outer.subtracted(QRegion(rect().adjusted(kRingWidth, kRingWidth, -kRingWidth, -kRingWidth))));
    raise();
    show();
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Active, QPalette::Highlight));
}

}  // namespace quill
