// SIGTERM, SIGINT and SIGHUP reach the program's event loop as bytes on a
// pipe instead of ending it on the spot, and programs it starts still end on them.
#include "platform/termination_signals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quill;

TEST(TerminationSignals, ArriveOnThePipeInsteadOfEndingTheProgram) {
    ASSERT_GE(platform::watchTerminationSignals(), 0);
    EXPECT_EQ(platform::takeTerminationSignal(), 0);
    ::raise(SIGTERM);
    EXPECT_EQ(platform::takeTerminationSignal(), SIGTERM);
    ::raise(SIGINT);
    ::raise(SIGHUP);
    EXPECT_EQ(platform::takeTerminationSignal(), SIGHUP);
    EXPECT_EQ(platform::takeTerminationSignal(), 0);
}

TEST(TerminationSignals, StillEndTheProgramsThatThisOneStarts) {
    // The preview's browser engine runs in child processes, which must not
    // inherit blocked or ignored signals.
    ASSERT_GE(platform::watchTerminationSignals(), 0);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        const std::string script = "kill -" + std::to_string(signal) + " $$; sleep 5";
        const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "signal " << signal;
    }
}

TEST(TerminationSignals, StayIgnoredWhenTheProgramWasStartedIgnoringThem) {
    // A fresh process, since the first call decides; started as nohup starts one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::signal(SIGHUP, SIG_IGN);
            if (platform::watchTerminationSignals() < 0) ::_exit(1);
            ::raise(SIGHUP);
            if (platform::takeTerminationSignal() != 0) ::_exit(2);
            // A library that takes the signal over does not get to keep it.
            ::signal(SIGHUP, SIG_DFL);
            platform::reclaimTerminationSignals();
            ::raise(SIGHUP);
            ::_exit(platform::takeTerminationSignal() == 0 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}
