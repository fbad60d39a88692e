// The main() of every test program: the test run's time scale and tick count, then
// GoogleTest.
#include <gtest/gtest.h>

#include <cstdio>

#include "net/Socket.h"
#include "platform/Clock.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TimeScale.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    SetTimeScale(kivtest::TestTimeScale());
    // The 32-bit tick count wraps 20 scaled seconds into every test program (1 s real at
    // the default scale), so that the time-outs and pauses of any test longer than that are
    // measured across the wrap.
    SetTickCount(kivtest::TEST_START_TICK);
    // Nothing a test runs (in process or as a program) reaches the user's own upgrade
    // history or the machine's system bus: the history goes to a directory of this test
    // program's own, and the login manager is looked for on a bus that does not exist
    // (a test that wants one starts its own).
    const kivtest::TempDir state("kiv-state");
    const kivtest::ScopedEnv stateHome("XDG_STATE_HOME", state.Path());
    const kivtest::ScopedEnv systemBus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + state / "no-system-bus");
    // The socket library (Winsock on Windows) for the whole run, as each program starts it.
    const CSocketLibrary sockets;
    if (sockets.Error() != 0) {
        std::fprintf(stderr, "The socket library did not start (error %d)\n", sockets.Error());
        return 1;
    }
    return RUN_ALL_TESTS();
}
