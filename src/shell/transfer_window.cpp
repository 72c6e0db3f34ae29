#include "shell/transfer_window.h"

#include "shell/_tempinst.h"
#include "shell/transfer_display.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace quill {

TransferWindow::TransferWindow(const QString& title, const QString& text)
    : QWidget(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      text_(new QLabel(text, this)),
      display_(new TransferDisplay(this)) {
    setObjectName("TransferWindow");
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);
    layout->addWidget(text_);
    layout->addWidget(display_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // The display is made for the status bar; in a window of its own it may be of a window's size.
    display_->setMinimumHeight(0);
    display_->setMaximumHeight(QWIDGETSIZE_MAX);
    display_->findChild<QProgressBar*>("TransferBar")->setFixedSize(240, 16);
    QPushButton* cancel = display_->cancelButton();
    cancel->setMinimumHeight(0);
    cancel->setMaximumHeight(QWIDGETSIZE_MAX);
    // Here Cancel is the window's own button: it may take the focus and Enter.
    cancel->setFocusPolicy(Qt::StrongFocus);
    // Wide enough for the title, which names the program.
    text_->setMinimumWidth(fontMetrics().horizontalAdvance(title) + 80);
}

void TransferWindow::showProgress(std::int64_t received, std::int64_t total) {
    display_->showProgress(received, total);
    if (isVisible()) return;
    adjustSize();
    centreOnScreen(this);
    show();
    raise();
    activateWindow();
}

void TransferWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        display_->cancel();
        return;
    }
    QWidget::keyPressEvent(event);
}

// Closing the window is the user's way of saying stop.
void TransferWindow::closeEvent(QCloseEvent* event) {
    display_->cancel();
    event->ignore();
}

}  // namespace quill
