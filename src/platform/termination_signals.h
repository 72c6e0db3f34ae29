// SIGTERM, SIGINT and SIGHUP on Debian, the console's control events on
// Windows (Ctrl+C as SIGINT, the others as SIGTERM), turned into bytes on a
// pipe, so the program's event loop can end the program at a point of its own
// choosing instead of being stopped in the middle of a step.
#pragma once

namespace quill::platform {

// Installs the handlers and returns the pipe's end to watch for reading, or -1
// when no pipe could be made (the signals then keep their usual effect).
// Later calls only put the handlers back. A signal that was ignored when the
// program started (nohup, a background job) stays ignored. Nothing is blocked,
// so child processes start with the usual dispositions; the pipe is not inherited.
int watchTerminationSignals();

// Puts the handlers (and the ignored signals) back when a library has replaced
// them, as the Firebird client does at its first attachment; does nothing
// before watchTerminationSignals().
void reclaimTerminationSignals();

// Empties the pipe; returns the last signal that arrived, 0 when none did.
int takeTerminationSignal();

}  // namespace quill::platform
