#include "platform/termination_signals.h"

#include <csignal>
#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace quill::platform {

namespace {

int g_readEnd = -1;
int g_writeEnd = -1;
bool g_installed = false;

// The console's events as the signals the loop already knows: Ctrl+C is an
// interrupt, Ctrl+Break and the console's closing, log-off and shut-down ask
// the program to end.
int signalOf(DWORD event) { return event == CTRL_C_EVENT ? SIGINT : SIGTERM; }

BOOL WINAPI onConsoleEvent(DWORD event) {
    const char byte = static_cast<char>(signalOf(event));
    // A full pipe already tells the loop to end; losing this byte loses nothing.
    [[maybe_unused]] const int n = _write(g_writeEnd, &byte, 1);
    // Handled: the program ends at a point of its own choosing. For a closing
    // console Windows ends the process after the handler returns anyway, so
    // give the loop a moment to finish first.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(2000);
    return TRUE;
}

}  // namespace

int watchTerminationSignals() {
    if (g_readEnd < 0) {
        int ends[2];
        // Not inherited, as on Debian.
        if (_pipe(ends, 4096, _O_BINARY | _O_NOINHERIT) != 0) return -1;
        g_readEnd = ends[0];
        g_writeEnd = ends[1];
    }
    if (!g_installed) g_installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    return g_readEnd;
}

void reclaimTerminationSignals() {
    // A handler added later runs first; ours goes back in front.
    if (g_readEnd < 0) return;
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    g_installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int takeTerminationSignal() {
    if (g_readEnd < 0) return 0;
    const HANDLE pipe = reinterpret_cast<HANDLE>(_get_osfhandle(g_readEnd));
    int last = 0;
    for (;;) {
        // Reads only what is there: the pipe itself would wait.
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return last;
        char buffer[64];
        const int n = _read(g_readEnd, buffer, available < sizeof buffer ? available : sizeof buffer);
        if (n <= 0) return last;
        last = static_cast<unsigned char>(buffer[n - 1]);
    }
}

}  // namespace quill::platform
