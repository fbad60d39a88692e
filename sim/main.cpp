// kivrouter-sim: the virtual router. Serves until SIGINT or SIGTERM, then exits 0 (or 3
// with --strict when the peer broke the protocol).
#include <csignal>
#include <cstdio>
#include <string>

#include <sys/signalfd.h>

#include "platform/CUniqueFd.h"
#include "sim/CRouterSim.h"
#include "sim/CSimConfig.h"

int main(int argc, char** argv)
{
    CSimConfig config;
    std::string output;
    const int status = config.Parse(argc, argv, output);
    if (status >= 0) {
        std::fputs(output.c_str(), status == 0 ? stdout : stderr);
        return status;
    }

    // Block the signals before any thread exists, and take them through a descriptor that
    // the service loop polls.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGPIPE);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        std::fputs("kivrouter-sim: cannot block signals\n", stderr);
        return 1;
    }
    sigdelset(&signals, SIGPIPE);
    CUniqueFd signalFd(signalfd(-1, &signals, SFD_CLOEXEC));
    if (!signalFd.Valid()) {
        std::fputs("kivrouter-sim: cannot create a signal descriptor\n", stderr);
        return 1;
    }

    CRouterSim sim(config);
    std::string error;
    if (!sim.Open(error)) {
        std::fprintf(stderr, "kivrouter-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.ReadyLine().c_str());
    std::fflush(stdout);
    sim.Run(signalFd.Get());

    const uint32_t violations = sim.ViolationCount();
    if (violations != 0)
        std::fprintf(stderr, "kivrouter-sim: %u protocol violation(s)\n", violations);
    return config.strict && violations != 0 ? 3 : 0;
}
