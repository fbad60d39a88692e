// Windows keeps the system awake while the upgrade worker holds the inhibitor, and no longer
// once it has given it back or the inhibitor is gone.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/CSystemAwakeInhibitor.h"

namespace {

// The calling thread's execution state. The call that reads it asks for nothing lasting
// (without ES_CONTINUOUS it only restarts the idle timer once).
EXECUTION_STATE ThreadState() { return SetThreadExecutionState(ES_SYSTEM_REQUIRED); }

constexpr EXECUTION_STATE AWAKE = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;

} // namespace

TEST(SystemAwakeInhibitor, HoldsTheSystemAwakeFromAcquireToRelease)
{
    std::string why;
    {
        CSystemAwakeInhibitor inhibitor;
        ASSERT_TRUE(inhibitor.Acquire(why)) << why;
        EXPECT_EQ(ThreadState(), AWAKE);
        inhibitor.Release();
        EXPECT_EQ(ThreadState(), ES_CONTINUOUS);

        ASSERT_TRUE(inhibitor.Acquire(why)) << why;
        EXPECT_EQ(ThreadState(), AWAKE);
    }
    EXPECT_EQ(ThreadState(), ES_CONTINUOUS) << "the inhibitor's end gives back what it held";
}
