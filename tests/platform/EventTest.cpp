#include <gtest/gtest.h>

#include <thread>

#include "platform/CCriticalSection.h"
#include "platform/CEvent.h"
#include "platform/Clock.h"

TEST(CEvent, AutoResetConsumesTheSignalManualResetKeepsIt)
{
    CEvent autoEvent;
    EXPECT_FALSE(autoEvent.Wait(0));
    autoEvent.Set();
    EXPECT_TRUE(autoEvent.Wait(0));
    EXPECT_FALSE(autoEvent.Wait(0));

    CEvent manual(true, true);
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.IsSet());

    uint32_t start = GetTickCount();
    EXPECT_FALSE(manual.Wait(200));
    EXPECT_GE(TicksSince(start), 200u);
}

TEST(CEvent, SetFromAnotherThreadWakesAWaiter)
{
    CEvent event;
    CEvent started(true);
    std::thread setter([&] {
        started.Wait(INFINITE);
        event.Set();
    });
    started.Set();
    EXPECT_TRUE(event.Wait(100000));
    setter.join();
}

TEST(CCriticalSection, RecursiveAndScoped)
{
    CCriticalSection cs;
    {
        CSingleLock outer(&cs, true);
        CSingleLock inner(&cs, true);
        EXPECT_TRUE(outer.IsLocked());
        EXPECT_TRUE(inner.IsLocked());
    }
    bool lockedElsewhere = false;
    std::thread other([&] {
        CSingleLock lock(&cs, true);
        lockedElsewhere = lock.IsLocked();
    });
    other.join();
    EXPECT_TRUE(lockedElsewhere) << "the scoped locks released the section";
}
