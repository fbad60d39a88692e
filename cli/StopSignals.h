#pragma once

#include <csignal>

// The signals that would end the program where they come (Ctrl+C, kill, a closed terminal,
// SIGUSR1, SIGALRM, the real-time signals and every other one whose default action is to
// terminate), taken instead as a request to stop: blocked in every thread, so that no worker
// is cut off half-way, and collected on the main thread, which stops a check or lets an
// upgrade run to its end (leaving force-load mode and writing its last log lines). Signals
// that report a fault of the program itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP,
// SIGSYS, SIGABRT) keep their default.
//
// On Windows (StopSignalsWin32.cpp) the requests are the console's: Ctrl+C (SIGINT),
// Ctrl+Break (SIGBREAK), and the console window closed, log-off or shutdown (SIGTERM), which
// are held until main() returns so that the stop path can end the run.
#ifndef _WIN32
sigset_t StopSignals();
#endif

// Blocks the stop signals in the calling thread; threads started afterwards inherit it. On
// Windows: installs the console control handler, once, from the main thread.
void BlockStopSignals();

// Writes to a pipe whose reader has gone fail with EPIPE instead of ending the program
// (SIGPIPE ignored); Windows has no such signal, its writes fail anyway.
void IgnoreBrokenPipes();

// A stop signal that is pending, taken (0 when none); waits at most `waitNs` nanoseconds.
int TakeStopSignal(long waitNs = 0);
