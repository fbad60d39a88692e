#pragma once

#include <QColor>
#include <cstdint>

// Colours travel through the program as 0x00BBGGRR values (red in the low byte).
inline QColor ColorFromColorRef(uint32_t colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

inline uint32_t ColorRefFromColor(const QColor& colour)
{
    return static_cast<uint32_t>(colour.red()) | (static_cast<uint32_t>(colour.green()) << 8) |
           (static_cast<uint32_t>(colour.blue()) << 16);
}
