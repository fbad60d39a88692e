#include <gtest/gtest.h>

#include <chrono>

#include "platform/Clock.h"
#include "platform/TextCodec.h"
#include "tests/support/ScopedTimeScale.h"

using kivtest::ScopedTimeScale;

TEST(Clock, SleepAndTicksFollowTheScale)
{
    ScopedTimeScale guard(0.01);
    const auto realStart = std::chrono::steady_clock::now();
    const uint32_t start = GetTickCount();
    Sleep(10000); // 100 ms real
    const uint32_t scaled = TicksSince(start);
    const auto realMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart);
    EXPECT_GE(scaled, 10000u);
    EXPECT_LT(realMs.count(), 10000) << "a scaled sleep ends before the unscaled time";

    // Bad scales are ignored.
    SetTimeScale(0.0);
    SetTimeScale(-3.0);
    EXPECT_DOUBLE_EQ(GetTimeScale(), 0.01);
}

TEST(Clock, TicksSinceCountsAcrossTheWrapOfTheTickCount)
{
    ScopedTimeScale guard(0.05);
    // 10 scaled s (0.5 s real) before the 32-bit count wraps to zero.
    SetTickCount(0xFFFFD8F0u);
    const uint32_t start = GetTickCount();
    ASSERT_GE(start, 0xFFFFD8F0u);
    Sleep(20000); // 1 s real: the count passes 0xFFFFFFFF meanwhile
    const uint32_t now = GetTickCount();
    EXPECT_LT(now, start) << "the count wrapped";
    const uint32_t elapsed = TicksSince(start);
    EXPECT_GE(elapsed, 20000u);
    EXPECT_LT(elapsed, 0x80000000u) << "a wrap reads as the time that passed, not as a jump back";
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
}

TEST(TextCodec, Utf16AndTruncation)
{
    const uint8_t text[] = {'A', 0, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 'B', 0, 0, 0, 'C', 0};
    EXPECT_EQ(Utf16LeToUtf8(text, sizeof text),
              "A\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD"
              "B");
    EXPECT_EQ(Utf16LeToUtf8(text, 3), "A") << "an odd trailing byte is ignored";
    EXPECT_EQ(Utf16LeToUtf8(nullptr, 4), "");
    std::string euro = "ab\xE2\x82\xAC";
    EXPECT_EQ(TruncateUtf8(euro, 4), "ab");
    EXPECT_EQ(TruncateUtf8(euro, 5), euro);
    EXPECT_EQ(TruncateUtf8(euro, 0), "");

    EXPECT_EQ(Utf8ToUtf16("A\xE2\x82\xAC\xF0\x9F\x98\x80"), u"A\u20AC\U0001F600");
    // Overlong, surrogate, beyond U+10FFFF, stray continuation, cut short: U+FFFD per byte.
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80|\x80|\xE2\x82"),
              u"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD|\uFFFD|\uFFFD\uFFFD");
}

TEST(TextCodec, MakePrintableReplacesControlsAndBytesThatAreNotText)
{
    const std::string r = "\xEF\xBF\xBD";
    // Terminal escapes: ESC sequences, BEL, CR, the C1 CSI as a code point (C2 9B) and as a
    // raw byte (9B, not UTF-8), DEL and NUL.
    EXPECT_EQ(MakePrintable("1.0.5.0\x1b]0;owned\x07"), "1.0.5.0" + r + "]0;owned" + r);
    EXPECT_EQ(MakePrintable("\x1b[1A\rResult: success"), r + "[1A" + r + "Result: success");
    EXPECT_EQ(MakePrintable("a\xC2\x9B"
                            "2Jb\x9B"
                            "c\x7F"),
              "a" + r + "2Jb" + r + "c" + r);
    EXPECT_EQ(MakePrintable(std::string("x\0y\tz", 5)), "x" + r + "y" + r + "z");
    // Text passes: ASCII, U+00A0 and beyond (the first code point after C1), Chinese.
    EXPECT_EQ(MakePrintable("11.608.13 \xC2\xA0\xE6\xB2\xA1"), "11.608.13 \xC2\xA0\xE6\xB2\xA1");
    EXPECT_EQ(MakePrintable("one\ntwo"), "one" + r + "two");
    EXPECT_EQ(MakePrintable("one\ntwo\r", true), "one\ntwo" + r);
    const uint8_t bytes[] = {'o', 'k', 0xE6, 0xB2}; // a sequence cut short
    EXPECT_EQ(MakePrintable(bytes, sizeof bytes), "ok" + r + r);
    // Layout controls reorder or break what follows: U+202E (right-to-left override), the
    // other embeddings and isolates, the marks, the line separator; their neighbours U+2027
    // and U+2070 pass.
    EXPECT_EQ(MakePrintable("1.0.5.0\u202E0.7.1\u202C|\u2066x\u2069|\u200F\u061C|\u2028|\u2027\u2070"),
              "1.0.5.0" + r + "0.7.1" + r + "|" + r + "x" + r + "|" + r + r + "|" + r + "|\u2027\u2070");
}
