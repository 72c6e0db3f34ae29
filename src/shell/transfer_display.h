// The running download beside the status bar's text: a bar with the share
// received (busy while the size is unknown), the amounts, and "Cancel".
// Hidden whenever no shown download runs.
#pragma once

#include <QWidget>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quill {

class TransferDisplay : public QWidget {
    Q_OBJECT
public:
    explicit TransferDisplay(QWidget* parent = nullptr);

    // A new transfer; a quiet one never shows and cannot be cancelled.
    void begin(bool shown);
    void showProgress(std::int64_t received, std::int64_t total);
    bool cancelled() const { return cancelled_; }
    // Where a bar of its own already tells the progress, only the amounts and
    // Cancel show.
    void setBarShown(bool shown) { barShown_ = shown; }
    void end();

    QPushButton* cancelButton() const { return cancel_; }

public slots:
    // Cancel, or Escape: the running shown transfer stops at its next pulse.
    void cancel();

private:
    QProgressBar* bar_;
    QLabel* amount_;
    QPushButton* cancel_;
    bool shown_ = false;
    bool barShown_ = true;
    bool cancelled_ = false;
};

}  // namespace quill
