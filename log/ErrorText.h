#pragma once

#include <cstdint>
#include <string>

// Wait codes that the transport leaves in its last-error word next to errno values.
constexpr uint32_t WAIT_CODE_PURGED = 1;
constexpr uint32_t WAIT_CODE_IO_COMPLETION = 192;
constexpr uint32_t WAIT_CODE_TIMEOUT = 258;

// Readable text for a system error (an errno value; on Windows a system or Winsock error
// code) or one of the wait codes, ending with CR LF like the system message texts;
// "Unknow Error Code: %d\n" for a code without a text.
// Returned by value, so two threads may call it at once.
std::string GetErrorText(uint32_t code);
