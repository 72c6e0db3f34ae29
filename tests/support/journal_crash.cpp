#include "support/journal_crash.h"

#include "workspace/change/change_journal.h"

#include <gtest/gtest.h>

#include <csignal>
#include <exception>
#include <sys/wait.h>
#include <unistd.h>

namespace quill::testing {

namespace {

int g_points = 0;
int g_killAt = 0;
void (*g_beforeKill)() = nullptr;

void onPoint() {
    if (++g_points != g_killAt) return;
    if (g_beforeKill) g_beforeKill();
    ::raise(SIGKILL);
}

}  // namespace

void killAtJournalPoint(int n, void (*before)()) {
    g_points = 0;
    g_killAt = n;
    g_beforeKill = before;
    setJournalPointHook(onPoint);
}

int journalPointsSoFar() { return g_points; }

ChildEnd runInChild(const std::function<void()>& work, int killAt) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        killAtJournalPoint(killAt);
        int status = 0;
        try {
            work();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "the child's change failed: %s\n", e.what());
            status = 1;
        }
        const int points = journalPointsSoFar();
        [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &points, sizeof points);
        ::_exit(status);
    }
    ::close(pipeEnds[1]);
    ChildEnd end;
    if (::read(pipeEnds[0], &end.points, sizeof end.points) != sizeof end.points) end.points = 0;
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    end.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (!end.killed && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) ADD_FAILURE() << "the child failed";
    return end;
}

}  // namespace quill::testing
