// The main() of every test program: the test run's time scale and tick count, then
// GoogleTest.
#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "tests/support/TimeScale.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    SetTimeScale(kivtest::TestTimeScale());
    // The 32-bit tick count wraps 20 scaled seconds into every test program (1 s real at
    // the default scale), so that the time-outs and pauses of any test longer than that are
    // measured across the wrap.
    SetTickCount(kivtest::TEST_START_TICK);
    return RUN_ALL_TESTS();
}
