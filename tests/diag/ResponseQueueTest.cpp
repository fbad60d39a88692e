#include <gtest/gtest.h>

#include <thread>

#include "diag/CResponseQueue.h"
#include "tests/support/HdlcBytes.h"

using namespace kivtest;

namespace {

class ResponseQueueTest : public ::testing::Test {
protected:
    void Pattern(const std::string& hex)
    {
        Bytes p = Hex(hex);
        m_Queue.SetMatchPattern(p.data(), uint32_t(p.size()));
    }
    bool Store(const std::string& hex)
    {
        Bytes p = Hex(hex);
        return m_Queue.Store(p.data(), uint32_t(p.size()));
    }
    bool Match(const std::string& hex)
    {
        Bytes p = Hex(hex);
        return m_Queue.IsMatch(p.data(), uint32_t(p.size()));
    }
    // Waits briefly; returns the answer as hex, or "none".
    std::string Wait(uint32_t capacity = 64, uint32_t timeoutMs = 200)
    {
        Bytes out(capacity);
        uint32_t length = 0;
        if (!m_Queue.WaitResponse(out.data(), capacity, &length, timeoutMs))
            return "none";
        out.resize(length);
        return ToHex(out);
    }

    CResponseQueue m_Queue;
};

} // namespace

TEST_F(ResponseQueueTest, NormalAndErrorAnswerMatching)
{
    Pattern("4B C9 03 FF");
    EXPECT_TRUE(Match("4B C9 03 FF 00"));
    EXPECT_TRUE(Match("4B C9 03 FF"));
    EXPECT_FALSE(Match("4B C9 03"));
    EXPECT_FALSE(Match("4B C9 24 FF 00"));
    EXPECT_TRUE(Match("13 4B C9 03 FF 01 02"));
    EXPECT_TRUE(Match("18 4B C9 03 FF"));
    EXPECT_FALSE(Match("13 4B C9 03"));
    EXPECT_FALSE(Match("16 4B C9 03 FF")); // not an error code
    m_Queue.SetMatchPattern(nullptr, 0);
    EXPECT_TRUE(Match("99"));
}

TEST_F(ResponseQueueTest, AcknowledgementMode)
{
    Pattern("02");
    EXPECT_TRUE(Match("03 00 05"));
    EXPECT_FALSE(Match("03 00"));
    EXPECT_TRUE(Match("02"));
    EXPECT_FALSE(Match("13 02"));

    Pattern("02 00 10 00 00");
    EXPECT_TRUE(Match("02"));
    EXPECT_TRUE(Match("02 00 10 00 00"));
    EXPECT_FALSE(Match("02 00 20 00 00"));
    EXPECT_TRUE(Match("03 00 01"));
}

TEST_F(ResponseQueueTest, PatternIsCutTo16Bytes)
{
    Pattern("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13");
    EXPECT_TRUE(Match("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 99 99"));
}

TEST_F(ResponseQueueTest, NewestMatchWinsAndStaleMatchesAreIgnored)
{
    Pattern("3A");
    ASSERT_TRUE(Store("3A 01"));
    ASSERT_TRUE(Store("29 01 00"));
    ASSERT_TRUE(Store("3A 02"));
    EXPECT_EQ(Wait(), "3A 02");
    EXPECT_EQ(m_Queue.GetCount(), 0);

    // A payload that matched the earlier pattern and is still stored is not an answer now.
    ASSERT_TRUE(Store("3A 03"));
    Pattern("29 01 00");
    EXPECT_EQ(Wait(), "none");
    EXPECT_EQ(m_Queue.GetCount(), 0);
}

TEST_F(ResponseQueueTest, FiftyEntriesThenDropped)
{
    Pattern("AA");
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(Store("01 02"));
    EXPECT_FALSE(Store("AA"));
    EXPECT_EQ(m_Queue.GetCount(), 50);
    EXPECT_EQ(Wait(), "none"); // the matching payload was dropped and never signalled
    EXPECT_TRUE(Store("AA"));
    EXPECT_EQ(Wait(), "AA");
}

TEST_F(ResponseQueueTest, TimeoutEmptiesStoreAndBadArgumentsLeaveIt)
{
    Pattern("4B");
    ASSERT_TRUE(Store("01"));
    uint32_t length = 7;
    EXPECT_FALSE(m_Queue.WaitResponse(nullptr, 10, &length, 10));
    uint8_t one = 0;
    EXPECT_FALSE(m_Queue.WaitResponse(&one, 0, &length, 10));
    EXPECT_EQ(m_Queue.GetCount(), 1);
    EXPECT_EQ(Wait(8, 20), "none");
    EXPECT_EQ(m_Queue.GetCount(), 0);

    // A matching payload stored before a time-out is gone afterwards; the pending signal it
    // left is cleared by the next SetMatchPattern.
    ASSERT_TRUE(Store("4B 01"));
    Pattern("4B");
    EXPECT_EQ(Wait(8, 20), "none");
}

TEST_F(ResponseQueueTest, LongAnswerIsCutToCapacityAndStoreGrows)
{
    Pattern("");
    Bytes big(3000, 0x5A);
    ASSERT_TRUE(m_Queue.Store(big.data(), uint32_t(big.size())));
    ASSERT_TRUE(m_Queue.Store(big.data(), 100));
    uint8_t out[4] = {};
    uint32_t length = 0;
    ASSERT_TRUE(m_Queue.WaitResponse(out, sizeof(out), &length, 100));
    EXPECT_EQ(length, 4u);
}

TEST_F(ResponseQueueTest, WaiterIsReleasedByAnotherThreadsStore)
{
    Pattern("26 00 00 25");
    std::thread reader([this] {
        Store("01 02 03");
        Store("26 00 00 25 A7");
    });
    EXPECT_EQ(Wait(64, 20000), "26 00 00 25 A7");
    reader.join();
}
