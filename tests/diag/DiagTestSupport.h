#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Clock.h"

using Bytes = std::vector<uint8_t>;

// Runs the fixed pauses and time-outs fast when the test runner did not choose a scale.
inline void UseFastClock()
{
    if (std::getenv("KIV_TIME_SCALE") == nullptr)
        SetTimeScale(0.05);
}

inline Bytes Hex(const std::string& text)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < text.size() + 1;) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        if (i >= text.size())
            break;
        bytes.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

inline std::string ToHex(const Bytes& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            text.push_back(' ');
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 15]);
    }
    return text;
}
