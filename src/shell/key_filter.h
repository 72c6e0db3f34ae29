// The detail fields show text the keyboard must not change: every key is
// swallowed except those the window itself handles (focus moves, the default
// button). The mouse can still select text and use the context menu.
#pragma once

#include <QObject>

namespace quill {

class DetailKeyFilter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Swallows Enter so a multi-line field never clicks the default button.
class SwallowEnterFilter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace quill
