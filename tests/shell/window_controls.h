// The windows' controls found by the names the windows give them, as a user's
// script would find them: no access to the generated layout code.
#pragma once

#include <QWidget>
#include <QtGlobal>

namespace quill::testing {

// The control of that object name and type in the window; the test program
// stops when the window has none.
template <typename Control = QWidget>
Control* control(const QWidget& window, const char* name) {
    auto* found = window.findChild<Control*>(QString::fromLatin1(name));
    if (!found) qFatal("%s has no control %s of that type", qPrintable(window.objectName()), name);
    return found;
}

}  // namespace quill::testing
