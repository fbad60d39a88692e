#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The window placement kept in the settings store (section "Settings", value "Window
// Position"): 44 bytes, every field 32-bit little-endian, laid out as the Windows
// window-placement record: length, flags, show command (1 normal, 3 maximised), minimised
// position x and y, maximised position x and y, normal rectangle left, top, right, bottom
// (right and bottom exclusive). The desktop window of either platform reads and writes it
// through this one codec.
struct WindowPlacementRecord {
    static constexpr size_t RECORD_SIZE = 44;
    static constexpr uint32_t SHOW_NORMAL = 1;
    static constexpr uint32_t SHOW_MAXIMIZED = 3;

    uint32_t length = RECORD_SIZE;
    uint32_t flags = 0;
    uint32_t showCmd = SHOW_NORMAL;
    int32_t minX = -1;
    int32_t minY = -1;
    int32_t maxX = -1;
    int32_t maxY = -1;
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    std::array<uint8_t, RECORD_SIZE> Encode() const;
    // False, leaving `record` unchanged, unless `size` is exactly RECORD_SIZE.
    static bool Decode(const uint8_t* bytes, size_t size, WindowPlacementRecord& record);

    // The show command stored for a window in state `showCmd`: a maximised window is stored
    // maximised, every other state (minimised among them) as normal, so that the next start
    // is never minimised.
    static uint32_t StoredShowCommand(uint32_t showCmd);

    // True when the normal rectangle has a positive width and height and lies wholly inside
    // the rectangle `left`, `top`, `right`, `bottom` (exclusive at right and bottom): a
    // placement is restored only onto a screen area it fits.
    bool NormalRectFits(int32_t areaLeft, int32_t areaTop, int32_t areaRight, int32_t areaBottom) const;
};
