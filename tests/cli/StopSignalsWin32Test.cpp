// The console's stop requests on Windows reach the main thread as the stop signals do on
// POSIX: Ctrl+C is taken once, as SIGINT, and waiting for a request ends when one comes.
#include <gtest/gtest.h>

#include <windows.h>

#include <csignal>

#include "cli/StopSignals.h"

constexpr long WAIT_NS = 2'000'000'000L; // a long is 32 bits on Windows

TEST(StopSignalsWin32, CtrlCIsTakenOnceAsAStopRequest)
{
    // A console of the test's own, whose Ctrl+C reaches only this process.
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    // As a program started in a process group of its own: Ctrl+C ignored until taken again.
    SetConsoleCtrlHandler(nullptr, TRUE);
    BlockStopSignals();
    EXPECT_EQ(TakeStopSignal(), 0);

    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    EXPECT_EQ(TakeStopSignal(WAIT_NS), SIGINT);
    EXPECT_EQ(TakeStopSignal(), 0) << "one request taken twice";
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    EXPECT_EQ(TakeStopSignal(WAIT_NS), SIGINT);
}
