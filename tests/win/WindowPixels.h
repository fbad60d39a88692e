#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace kivtest {

// What a window shows on the screen, read back pixel by pixel (COLORREF values, 0x00BBGGRR).
class WindowPixels {
public:
    // Paints the window now and copies its client area from the screen.
    explicit WindowPixels(HWND window);

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    bool Valid() const { return !m_Pixels.empty(); }
    COLORREF At(int x, int y) const;

    // Pixels of `area` (client coordinates, clipped) for which `match` holds.
    int Count(const RECT& area, const std::function<bool(COLORREF)>& match) const;

    // Text drawn in a colour: near-pure red or blue, whatever the font's smoothing blends in.
    static bool Reddish(COLORREF colour);
    static bool Bluish(COLORREF colour);

private:
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<uint32_t> m_Pixels; // 0x00RRGGBB, top row first
};

} // namespace kivtest
