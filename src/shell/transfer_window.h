// The window a download shows in while the main window is not up yet (the
// catalogue's, at show time): what is being fetched, the transfer display
// with its bar, amounts and "Cancel". Escape or closing it cancels too.
#pragma once

#include <QWidget>

#include <cstdint>

class QLabel;

namespace quill {

class TransferDisplay;

class TransferWindow : public QWidget {
    Q_OBJECT
public:
    TransferWindow(const QString& title, const QString& text);

    TransferDisplay* display() const { return display_; }
    // The display's progress; the window itself appears with the first of it,
    // so a quick download never flashes a window.
    void showProgress(std::int64_t received, std::int64_t total);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* text_;
    TransferDisplay* display_;
};

}  // namespace quill
