#include "platform/SystemError.h"

#include <cstring>

std::string SystemErrorText(uint32_t code)
{
    if (code == 0 || code > 4095)
        return {};
    // strerror_r (GNU variant) gives "Unknown error N" for numbers it has no text for.
    char buffer[256];
    const char* message = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (message == nullptr || std::strncmp(message, "Unknown error", 13) == 0)
        return {};
    return message;
}
