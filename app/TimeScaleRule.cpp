#include "app/TimeScaleRule.h"

#include <cstdio>

#include "app/RouterOverrides.h"
#include "platform/Clock.h"
#include "wire/RouterAddress.h"

namespace {

bool ScaleIsOne() { return GetTimeScale() == 1.0; }

std::string ScaleText()
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", GetTimeScale());
    return text;
}

} // namespace

std::string TimeScaleNotice()
{
    if (ScaleIsOne())
        return {};
    const std::string scale = ScaleText();
    return "Time scale " + scale + " in force: every pause and time-out lasts " + scale + " times as long";
}

std::string TimeScaleTitleSuffix() { return ScaleIsOne() ? std::string() : " - Time scale " + ScaleText(); }

bool IsTimeScaleAllowedToward(const std::array<uint8_t, 4>& address, bool allowAnyRouter)
{
    return ScaleIsOne() || allowAnyRouter || IsLoopbackIpv4(address);
}

std::string TimeScaleRefusal(const std::array<uint8_t, 4>& address)
{
    return "Time scale " + ScaleText() + " refused: the router at " + FormatIpv4(address) +
           " is not on loopback, and a real router needs every pause and time-out at full length. "
           "Unset KIV_TIME_SCALE, or allow the scale with --time-scale or " +
           TIME_SCALE_ALLOW_VARIABLE + "=1.";
}
