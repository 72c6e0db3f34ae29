// Ending a process at a chosen point of a journalled change, as a power cut or
// kill -9 would: nothing of the program runs after it, the disk stays as it is.
#pragma once

#include <functional>

namespace quill::testing {

// From now on, count the journal's points; at the nth (n >= 1) the process
// kills itself with SIGKILL, after calling `before` when one is given (as
// another program writing to a file just then). n = 0 only counts.
void killAtJournalPoint(int n, void (*before)() = nullptr);
int journalPointsSoFar();

// How a child process ended: killed at the chosen point, or run to its end
// having passed `points` journal points.
struct ChildEnd {
    bool killed = false;
    int points = 0;
};

// Runs work in a forked child that dies at journal point `killAt` (0: never).
// An error escaping work fails the child, which fails the calling test.
ChildEnd runInChild(const std::function<void()>& work, int killAt);

}  // namespace quill::testing
