#include "log/ErrorText.h"

#include <cstdio>
#include <cstring>

namespace {

// strerror_r (GNU variant) gives "Unknown error N" for numbers it has no text for.
bool SystemText(uint32_t code, std::string& text)
{
    if (code == 0 || code > 4095)
        return false;
    char buffer[256];
    const char* message = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (message == nullptr || std::strncmp(message, "Unknown error", 13) == 0)
        return false;
    text = message;
    return true;
}

} // namespace

std::string GetErrorText(uint32_t code)
{
    std::string text;
    switch (code) {
    case WAIT_CODE_TIMEOUT: text = "The wait operation timed out."; break;
    case WAIT_CODE_PURGED: text = "The wait was ended by a purge request."; break;
    case WAIT_CODE_IO_COMPLETION: text = "An I/O completion routine was queued."; break;
    case 0: text = "The operation completed successfully."; break;
    default:
        if (!SystemText(code, text)) {
            char unknown[64];
            std::snprintf(unknown, sizeof unknown, "Unknow Error Code: %d\n", static_cast<int>(code));
            return unknown;
        }
    }
    return text + "\r\n";
}
