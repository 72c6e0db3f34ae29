#include "shell/transfer_display.h"

#include "workspace/transfer/transfer_amount.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace quill {

namespace {
constexpr int kBarSteps = 1000;  // a pixel or finer on any bar width
}

TransferDisplay::TransferDisplay(QWidget* parent)
    : QWidget(parent), bar_(new QProgressBar(this)), amount_(new QLabel(this)), cancel_(new QPushButton("Cancel", this)) {
    setObjectName("TransferDisplay");
    bar_->setObjectName("TransferBar");
    amount_->setObjectName("TransferAmount");
    cancel_->setObjectName("TransferCancel");
    setAccessibleName("Download");
    bar_->setAccessibleName("Download progress");
    amount_->setAccessibleDescription("Amount downloaded");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(bar_);
    layout->addWidget(amount_);
    layout->addWidget(cancel_);
    // The status bar is 19 pixels high and stays so; it keeps 3 of them above its
    // items. What is wider than the display belongs to the status text.
    setFixedHeight(15);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    bar_->setFixedSize(160, 11);
    bar_->setTextVisible(false);
    // Room for the usual amounts, so the bar does not jump as they grow.
    amount_->setMinimumWidth(amount_->fontMetrics().horizontalAdvance("000.0 of 000.0 MB"));
    amount_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cancel_->setFixedHeight(15);
    // Clicking it must not take the focus from where the user left it.
    cancel_->setFocusPolicy(Qt::NoFocus);
    connect(cancel_, &QPushButton::clicked, this, &TransferDisplay::cancel);
    setVisible(false);
}

void TransferDisplay::begin(bool shown) {
    shown_ = shown;
    cancelled_ = false;
    cancel_->setEnabled(true);
}

void TransferDisplay::showProgress(std::int64_t received, std::int64_t total) {
    if (!shown_) return;
    if (total > 0) {
        bar_->setRange(0, kBarSteps);
        bar_->setValue(static_cast<int>(std::min(received, total) * kBarSteps / total));
    } else {
        bar_->setRange(0, 0);  // busy
    }
    amount_->setText(QString::fromStdString(transferAmountText(received, total)));
    bar_->setVisible(barShown_);
    setVisible(true);
}

void TransferDisplay::cancel() {
    if (!shown_ || !isVisible()) return;
    cancelled_ = true;
    cancel_->setEnabled(false);  // it is being stopped; a second click does nothing more
}

void TransferDisplay::end() {
    shown_ = false;
    cancelled_ = false;
    setVisible(false);
}

}  // namespace quill
