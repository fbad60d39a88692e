#include "log/ErrorText.h"

#include <cstdio>

#include "platform/SystemError.h"

std::string GetErrorText(uint32_t code)
{
    std::string text;
    switch (code) {
    case WAIT_CODE_TIMEOUT: text = "The wait operation timed out."; break;
    case WAIT_CODE_PURGED: text = "The wait was ended by a purge request."; break;
    case WAIT_CODE_IO_COMPLETION: text = "An I/O completion routine was queued."; break;
    case 0: text = "The operation completed successfully."; break;
    default:
        text = SystemErrorText(code);
        if (text.empty()) {
            char unknown[64];
            std::snprintf(unknown, sizeof unknown, "Unknow Error Code: %d\n", static_cast<int>(code));
            return unknown;
        }
    }
    return text + "\r\n";
}
