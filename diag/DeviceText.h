#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Turns single-byte text received from the router or the wireless module into the
// program's UTF-8 text. Valid UTF-8 sequences pass unchanged; every byte that does not
// belong to one becomes U+FFFD, so the result is always valid UTF-8 whatever the peer sent.
std::string DeviceBytesToText(const uint8_t* bytes, size_t count);
