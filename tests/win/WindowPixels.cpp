#include "tests/win/WindowPixels.h"

#include <algorithm>

namespace kivtest {

WindowPixels::WindowPixels(HWND window)
{
    RECT client{};
    if (window == nullptr || !GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
        return;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HDC screen = GetDC(window);
    HDC copy = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(copy, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr && bits != nullptr) {
        HGDIOBJ old = SelectObject(copy, bitmap);
        if (BitBlt(copy, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY)) {
            GdiFlush();
            m_nWidth = client.right;
            m_nHeight = client.bottom;
            const auto* first = static_cast<const uint32_t*>(bits);
            m_Pixels.assign(first, first + static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight));
        }
        SelectObject(copy, old);
    }
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    DeleteDC(copy);
    ReleaseDC(window, screen);
}

COLORREF WindowPixels::At(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight)
        return CLR_INVALID;
    const uint32_t pixel = m_Pixels[static_cast<size_t>(y) * static_cast<size_t>(m_nWidth) + static_cast<size_t>(x)];
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

int WindowPixels::Count(const RECT& area, const std::function<bool(COLORREF)>& match) const
{
    int count = 0;
    for (int y = std::max(0L, area.top); y < std::min<long>(m_nHeight, area.bottom); ++y) {
        for (int x = std::max(0L, area.left); x < std::min<long>(m_nWidth, area.right); ++x) {
            if (match(At(x, y)))
                ++count;
        }
    }
    return count;
}

bool WindowPixels::Reddish(COLORREF colour)
{
    return GetRValue(colour) >= 160 && GetGValue(colour) <= 90 && GetBValue(colour) <= 90;
}

bool WindowPixels::Bluish(COLORREF colour)
{
    return GetBValue(colour) >= 160 && GetRValue(colour) <= 90 && GetGValue(colour) <= 90;
}

} // namespace kivtest
