#include "tests/support/TimeScale.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kivtest {

double TestTimeScale()
{
    const char* text = std::getenv("KIV_TIME_SCALE");
    const double scale = text != nullptr ? std::atof(text) : 0.0;
    return scale > 0.0 ? scale : DEFAULT_TEST_TIME_SCALE;
}

double TelnetTimeScale() { return std::max(TestTimeScale(), TELNET_TIME_SCALE_FLOOR); }

std::string ScaleArgument(double scale)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", scale);
    return text;
}

} // namespace kivtest
