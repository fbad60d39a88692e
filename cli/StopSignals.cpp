#include "cli/StopSignals.h"

#include <pthread.h>
#include <ctime>
#include <initializer_list>

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO, SIGPWR,
                    SIGSTKFLT, SIGXCPU, SIGXFSZ})
        sigaddset(&set, sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        sigaddset(&set, sig);
    return set;
}

void BlockStopSignals()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

int TakeStopSignal(long waitNs)
{
    const sigset_t set = StopSignals();
    const timespec wait{waitNs / 1000000000L, waitNs % 1000000000L};
    const int sig = sigtimedwait(&set, nullptr, &wait);
    return sig > 0 ? sig : 0;
}
