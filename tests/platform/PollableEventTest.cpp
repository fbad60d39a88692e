// The pollable event that net/ waits on with poll() beside a socket (POSIX only: an eventfd).
#include <gtest/gtest.h>

#include <poll.h>
#include <thread>

#include "platform/CPollableEvent.h"

TEST(CPollableEvent, PollsReadableOnlyWhileSet)
{
    CPollableEvent event;
    ASSERT_GE(event.Handle(), 0);
    pollfd pfd{event.Handle(), POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 0), 0);
    event.Set();
    event.Set();
    EXPECT_EQ(poll(&pfd, 1, 0), 1);
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.IsSet()) << "manual reset: a wait does not consume the signal";
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_EQ(poll(&pfd, 1, 0), 0);

    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(100000));
    setter.join();
}
