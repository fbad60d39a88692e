#pragma once

#include <cstdint>
#include <string>
#include <system_error>

// Readable text for a system error (an errno value; on Windows a system or Winsock error
// code), ending with CR LF like the system message texts; "Unknow Error Code: %d\n" for a
// code without a text. Returned by value, so two threads may call it at once.
std::string GetErrorText(uint32_t code);

// The same for an error of any kind: a system error as above, any other kind (the
// transport's wait codes, for instance) with its own category's text and CR LF.
std::string GetErrorText(const std::error_code& error);
