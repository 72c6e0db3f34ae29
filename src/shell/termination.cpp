#include "shell/termination.h"

#include "platform/termination_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

namespace quill {

namespace {

bool g_endRequested = false;

}  // namespace

void endOnTerminationSignals() {
    const int fd = platform::watchTerminationSignals();
    if (fd < 0) return;  // the signals keep their usual effect
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        if (platform::takeTerminationSignal() == 0) return;
        g_endRequested = true;
        // Ends every loop, the modal ones of the main window and of a box as
        // well; the handler that runs under them finishes first.
        QCoreApplication::exit(0);
    });
}

bool endRequested() { return g_endRequested; }

}  // namespace quill
