#include "log/ErrorText.h"

#include <cstdio>

#include "platform/SystemError.h"

std::string GetErrorText(uint32_t code)
{
    if (code == 0)
        return "The operation completed successfully.\r\n";
    const std::string text = SystemErrorText(code);
    if (text.empty()) {
        char unknown[64];
        std::snprintf(unknown, sizeof unknown, "Unknow Error Code: %d\n", static_cast<int>(code));
        return unknown;
    }
    return text + "\r\n";
}

std::string GetErrorText(const std::error_code& error)
{
    if (!error || error.category() == std::system_category())
        return GetErrorText(static_cast<uint32_t>(error.value()));
    return error.message() + "\r\n";
}
