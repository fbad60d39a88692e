#pragma once

// The one time-scale rule of the tests. Every pause and time-out of the product goes through
// the platform clock, which KIV_TIME_SCALE multiplies; tests run scaled.

#include <cstdint>
#include <string>

namespace kivtest {

// The tick count every test program starts with: 20 scaled seconds before the 32-bit count
// wraps to zero.
constexpr uint32_t TEST_START_TICK = 0xFFFFFFFFu - 20000u + 1u;

// The scale when the runner chose none (scripts/test.sh sets KIV_TIME_SCALE=0.05).
constexpr double DEFAULT_TEST_TIME_SCALE = 0.05;
// The Telnet client takes as a reply whatever arrived within 500 scaled ms
// (TELNET_REPLY_MS); a run that reads Telnet replies leaves the peer TELNET_REPLY_REAL_MS of
// real time to answer, and its scale follows from the two. 50 ms (scale 0.1) was too short
// on a loaded machine (parallel tests, other builds); ThreadSanitizer slows both ends of the
// exchange several times over (50 ms missed the simulator's login prompt under a load of 10
// on two cores), so its builds leave 250 ms.
#if defined(__SANITIZE_THREAD__)
#define KIV_TEST_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KIV_TEST_THREAD_SANITIZER 1
#endif
#endif
constexpr double TELNET_REPLY_MS = 500;
#ifdef KIV_TEST_THREAD_SANITIZER
constexpr double TELNET_REPLY_REAL_MS = 250;
#else
constexpr double TELNET_REPLY_REAL_MS = 100;
#endif
constexpr double TELNET_TIME_SCALE_FLOOR = TELNET_REPLY_REAL_MS / TELNET_REPLY_MS;

// The scale of this test run: KIV_TIME_SCALE when set to a positive number, else 0.05. The
// test main applies it to the test process.
double TestTimeScale();

// The scale for a run that reads Telnet replies (a version check): TestTimeScale(), but not
// below TELNET_TIME_SCALE_FLOOR.
double TelnetTimeScale();

// A scale as a command-line value ("--time-scale 0.05").
std::string ScaleArgument(double scale);

} // namespace kivtest
