#include "platform/termination_signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace quill::platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_readEnd = -1;
int g_writeEnd = -1;
// Ignored when the program started (nohup, a background job): they stay so.
bool g_ignored[std::size(kSignals)] = {};

void onSignal(int signal) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(signal);
    // A full pipe already tells the loop to end; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(g_writeEnd, &byte, 1);
    errno = savedErrno;
}

void installHandlers() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Blocking calls of the step that runs go on; the loop sees the byte after.
    action.sa_flags = SA_RESTART;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], g_ignored[i] ? &ignore : &action, nullptr);
    }
}

}  // namespace

int watchTerminationSignals() {
    if (g_readEnd < 0) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
        g_readEnd = ends[0];
        g_writeEnd = ends[1];
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            struct sigaction old {};
            ::sigaction(kSignals[i], nullptr, &old);
            g_ignored[i] = old.sa_handler == SIG_IGN;
        }
    }
    installHandlers();
    return g_readEnd;
}

void reclaimTerminationSignals() {
    if (g_readEnd >= 0) installHandlers();
}

int takeTerminationSignal() {
    int last = 0;
    char buffer[64];
    for (;;) {
        const ssize_t n = ::read(g_readEnd, buffer, sizeof buffer);
        if (n > 0) {
            last = static_cast<unsigned char>(buffer[n - 1]);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return last;
    }
}

}  // namespace quill::platform
