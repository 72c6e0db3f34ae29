// Keeps user input away from one window while a long step runs, without
// greying it out: the step pumps events, and a queued click must not start a
// second step inside the first. Closing is the window's own business: the
// step itself may close it when it is done.
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window_;
    bool blocked_ = false;
};

}  // namespace quill
