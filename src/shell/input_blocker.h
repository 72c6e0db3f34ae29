// Keeps user input away from one window while a long step runs, without
// greying it out: the step pumps events, and a queued click must not start a
// second step inside the first. Closing is the window's own business: the
// step itself may close it when it is done. What stops a running step gets
// through: the controls let through, and Escape, which is announced instead.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace quill {

class InputBlocker : public QObject {
    Q_OBJECT
public:
    explicit InputBlocker(QWidget* window);
    ~InputBlocker() override;

    void setBlocked(bool blocked);
    bool blocked() const { return blocked_; }

    // Input to this control (and what it holds) passes while the rest is blocked.
    void letThrough(QWidget* control);

signals:
    // Escape was pressed in the blocked window.
    void escapePressed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool letsThrough(const QWidget* widget) const;

    QPointer<QWidget> window_;
    QPointer<QWidget> letThrough_;
    bool blocked_ = false;
};

}  // namespace quill
