#pragma once

#include <csignal>

// The signals that would end the program where they come (Ctrl+C, kill, a closed terminal,
// SIGUSR1, SIGALRM, the real-time signals and every other one whose default action is to
// terminate), taken instead as a request to stop: blocked in every thread, so that no worker
// is cut off half-way, and collected on the main thread, which stops a check or lets an
// upgrade run to its end (leaving force-load mode and writing its last log lines). Signals
// that report a fault of the program itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP,
// SIGSYS, SIGABRT) keep their default.
sigset_t StopSignals();

// Blocks the stop signals in the calling thread; threads started afterwards inherit it.
void BlockStopSignals();

// A stop signal that is pending, taken (0 when none); waits at most `waitNs` nanoseconds.
int TakeStopSignal(long waitNs = 0);
