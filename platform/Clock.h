#pragma once

#include <chrono>
#include <cstdint>

// One clock for every fixed pause and time-out. KIV_TIME_SCALE (a positive number, default 1)
// divides them all: ticks are reported in scaled milliseconds, and a pause or wait of n ms
// lasts n x scale real milliseconds.

constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// Scaled millisecond tick count; 32 bits, wraps like the system tick count.
uint32_t GetTickCount();

// Moves the tick count so that GetTickCount() reads `tick` now and counts on from there,
// past 0xFFFFFFFF to 0. Every thread sees the move at once. The count otherwise meets its
// wrap only after 49.7 days at scale 1; tests use this to put the wrap in reach.
void SetTickCount(uint32_t tick);

// Pause the calling thread for `ms` scaled milliseconds.
void Sleep(uint32_t ms);

// The time scale in force (read once from KIV_TIME_SCALE, or set by SetTimeScale).
double GetTimeScale();

// Overrides the time scale for the whole process; values that are not positive are ignored.
void SetTimeScale(double scale);

// Real duration of `ms` scaled milliseconds. INFINITE gives duration::max().
std::chrono::nanoseconds ScaledDuration(uint32_t ms);

// Real milliseconds for poll(): INFINITE gives -1; anything else rounds up so that a
// non-zero wait never turns into a busy poll.
int ScaledPollTimeout(uint32_t ms);

// Milliseconds elapsed since `startTick` on the scaled tick count, correct across a wrap.
inline uint32_t TicksSince(uint32_t startTick) { return GetTickCount() - startTick; }
