#pragma once

#include <array>
#include <cstdint>
#include <string>

// The time scale (KIV_TIME_SCALE, --time-scale) shortens every pause and time-out, which is
// what tests and the demo want and what a real router must never get by accident: a
// router still writing its flash would be given up on. So a scale other than 1 is always
// announced, and toward a router that is not on loopback (127.0.0.0/8) it is refused
// unless it was allowed explicitly: by --time-scale on the command line, or by the
// environment variable KIV_TIME_SCALE_ANY_ROUTER set to "1".

constexpr const char* TIME_SCALE_ALLOW_VARIABLE = "KIV_TIME_SCALE_ANY_ROUTER";

// Empty at scale 1; otherwise "Time scale S in force: every pause and time-out lasts S
// times as long".
std::string TimeScaleNotice();

// Empty at scale 1; otherwise " - Time scale S", for the window title.
std::string TimeScaleTitleSuffix();

// True when the time scale in force may be used toward a router at `address`.
bool IsTimeScaleAllowedToward(const std::array<uint8_t, 4>& address, bool allowAnyRouter);

// The refusal for a router at `address`, saying how to go on.
std::string TimeScaleRefusal(const std::array<uint8_t, 4>& address);
