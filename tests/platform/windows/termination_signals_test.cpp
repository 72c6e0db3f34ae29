// The console's Ctrl+C and Ctrl+Break reach the program's event loop as bytes
// on a pipe instead of ending it on the spot.
#include "platform/termination_signals.h"

#include <gtest/gtest.h>

#include <csignal>

#include <windows.h>

using namespace quill;

namespace {

// The handler runs on a thread of its own, so the byte comes a little later.
int awaitTerminationSignal() {
    for (int i = 0; i < 200; ++i) {
        if (const int signal = platform::takeTerminationSignal()) return signal;
        Sleep(10);
    }
    return 0;
}

BOOL WINAPI swallowEverything(DWORD) { return TRUE; }

// Events go to every program of a console, so the test takes one of its own
// rather than interrupt whatever runs it.
bool haveConsole() {
    static const bool made = (FreeConsole(), AllocConsole());
    return made;
}

}  // namespace

TEST(TerminationSignals, ArriveOnThePipeInsteadOfEndingTheProgram) {
    if (!haveConsole()) GTEST_SKIP() << "no console to send its events through";
    ASSERT_GE(platform::watchTerminationSignals(), 0);
    EXPECT_EQ(platform::takeTerminationSignal(), 0);
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    EXPECT_EQ(awaitTerminationSignal(), SIGINT);
    EXPECT_EQ(platform::takeTerminationSignal(), 0);
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
        GTEST_SKIP() << "this console sends Ctrl+Break to no process group of its own (Wine's does not)";
    }
    EXPECT_EQ(awaitTerminationSignal(), SIGTERM);
}

TEST(TerminationSignals, ALibraryThatTakesTheEventsOverDoesNotKeepThem) {
    if (!haveConsole()) GTEST_SKIP() << "no console to send its events through";
    ASSERT_GE(platform::watchTerminationSignals(), 0);
    ASSERT_TRUE(SetConsoleCtrlHandler(swallowEverything, TRUE));
    platform::reclaimTerminationSignals();
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    EXPECT_EQ(awaitTerminationSignal(), SIGINT);
    SetConsoleCtrlHandler(swallowEverything, FALSE);
}
