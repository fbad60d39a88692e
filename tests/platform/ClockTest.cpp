#include <gtest/gtest.h>

#include <chrono>

#include "platform/Clock.h"
#include "platform/TextCodec.h"
#include "tests/support/ScopedTimeScale.h"

using kivtest::ScopedTimeScale;

TEST(Clock, SleepAndTicksFollowTheScale)
{
    ScopedTimeScale guard(0.05);
    auto realStart = std::chrono::steady_clock::now();
    uint32_t start = GetTickCount();
    Sleep(400); // 20 ms real
    uint32_t scaled = TicksSince(start);
    auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart);
    EXPECT_GE(scaled, 400u);
    EXPECT_LT(scaled, 400u * 20) << "generous bound for a busy machine";
    EXPECT_LT(realMs.count(), 400 * 5) << "a scaled sleep does not last the unscaled time";

    // Bad scales are ignored.
    SetTimeScale(0.0);
    SetTimeScale(-3.0);
    EXPECT_DOUBLE_EQ(GetTimeScale(), 0.05);
}

TEST(Clock, PollTimeoutsAndDurations)
{
    ScopedTimeScale guard(0.01);
    EXPECT_EQ(ScaledPollTimeout(INFINITE), -1);
    EXPECT_EQ(ScaledPollTimeout(0), 0);
    EXPECT_EQ(ScaledPollTimeout(1), 1) << "a non-zero wait never becomes a busy poll";
    EXPECT_EQ(ScaledPollTimeout(3000), 30);
    EXPECT_EQ(ScaledDuration(INFINITE), std::chrono::nanoseconds::max());
    EXPECT_EQ(ScaledDuration(1000), std::chrono::milliseconds(10));
    // The tick difference is correct across a wrap of the 32-bit counter.
    EXPECT_EQ(static_cast<uint32_t>(5u - 0xFFFFFFFBu), 10u);
}

TEST(TextCodec, Utf16AndTruncation)
{
    const uint8_t text[] = {'A', 0, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 'B', 0, 0, 0, 'C', 0};
    EXPECT_EQ(Utf16LeToUtf8(text, sizeof text), "A\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD" "B");
    EXPECT_EQ(Utf16LeToUtf8(text, 3), "A") << "an odd trailing byte is ignored";
    EXPECT_EQ(Utf16LeToUtf8(nullptr, 4), "");
    std::string euro = "ab\xE2\x82\xAC";
    EXPECT_EQ(TruncateUtf8(euro, 4), "ab");
    EXPECT_EQ(TruncateUtf8(euro, 5), euro);
    EXPECT_EQ(TruncateUtf8(euro, 0), "");
}

TEST(TextCodec, MakePrintableReplacesControlsAndBytesThatAreNotText)
{
    const std::string r = "\xEF\xBF\xBD";
    // Terminal escapes: ESC sequences, BEL, CR, the C1 CSI as a code point (C2 9B) and as a
    // raw byte (9B, not UTF-8), DEL and NUL.
    EXPECT_EQ(MakePrintable("1.0.5.0\x1b]0;owned\x07"), "1.0.5.0" + r + "]0;owned" + r);
    EXPECT_EQ(MakePrintable("\x1b[1A\rResult: success"), r + "[1A" + r + "Result: success");
    EXPECT_EQ(MakePrintable("a\xC2\x9B" "2Jb\x9B" "c\x7F"), "a" + r + "2Jb" + r + "c" + r);
    EXPECT_EQ(MakePrintable(std::string("x\0y\tz", 5)), "x" + r + "y" + r + "z");
    // Text passes: ASCII, U+00A0 and beyond (the first code point after C1), Chinese.
    EXPECT_EQ(MakePrintable("11.608.13 \xC2\xA0\xE6\xB2\xA1"), "11.608.13 \xC2\xA0\xE6\xB2\xA1");
    EXPECT_EQ(MakePrintable("one\ntwo"), "one" + r + "two");
    EXPECT_EQ(MakePrintable("one\ntwo\r", true), "one\ntwo" + r);
    const uint8_t bytes[] = {'o', 'k', 0xE6, 0xB2};  // a sequence cut short
    EXPECT_EQ(MakePrintable(bytes, sizeof bytes), "ok" + r + r);
}
