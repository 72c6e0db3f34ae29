// SIGTERM, SIGINT and SIGHUP end the program as closing its windows would:
// every event loop ends, the main window is freed (which closes the
// catalogue) and the program exits with code 0. Nothing interrupts a step in
// the middle: an installation or update that runs when the signal comes ends
// or rolls back first, and shows no more boxes.
#pragma once

namespace quill {

// Starts watching the signals; call once the application object exists.
void endOnTerminationSignals();

// Whether a signal has asked the program to end.
bool endRequested();

}  // namespace quill
