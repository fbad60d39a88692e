// The main() of every test program: the test run's time scale, then GoogleTest.
#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "tests/support/TimeScale.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    SetTimeScale(kivtest::TestTimeScale());
    return RUN_ALL_TESTS();
}
