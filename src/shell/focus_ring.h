// A clear ring drawn over the edge of a control while it, or anything inside
// it, has the focus: for the controls whose own look barely changes with the
// focus (the template list, the preview). It takes no input, and assistive
// technology does not list it as a control of its own.
#pragma once

#include <QFocusFrame>
#include <QPointer>

namespace quill {

// The style draws the focus only after a key has moved it, and Qt forgets
// that at each focus change made otherwise: the window's focus shows always.
void keepFocusShown(QWidget* window);

class FocusRing : public QFocusFrame {
    Q_OBJECT
public:
    // Lives as long as ringed, beside it under the same parent.
    explicit FocusRing(QWidget* ringed);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();

    QPointer<QWidget> ringed_;
};

}  // namespace quill
