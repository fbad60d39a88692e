#include "win/DialogLayout.h"

#include <algorithm>

#include "win/controls/Dpi.h"

namespace {
KivRect Scaled(const KivRect& rect, UINT dpi)
{
    return KivRect{ScaleForDpi(rect.x, dpi), ScaleForDpi(rect.y, dpi), ScaleForDpi(rect.width, dpi),
                   ScaleForDpi(rect.height, dpi)};
}
} // namespace

KivLayout ScaledLayout(LayoutFunction compute, int clientWidth, int clientHeight, UINT dpi, int summaryHeight)
{
    const KivLayout layout =
        compute(UnscaleForDpi(clientWidth, dpi), UnscaleForDpi(clientHeight, dpi), UnscaleForDpi(summaryHeight, dpi));
    return KivLayout{Scaled(layout.check, dpi), Scaled(layout.upgrade, dpi), Scaled(layout.list, dpi),
                     Scaled(layout.summary, dpi)};
}

SIZE ScaledMinimumSize(MinimumWidthFunction minimumWidth, MinimumHeightFunction minimumHeight, UINT dpi)
{
    const int padding = GetSystemMetricsForDpi(SM_CXPADDEDBORDER, dpi);
    const int frameWidth = GetSystemMetricsForDpi(SM_CXSIZEFRAME, dpi) + padding;
    const int frameHeight = GetSystemMetricsForDpi(SM_CYSIZEFRAME, dpi) + padding;
    const int caption = GetSystemMetricsForDpi(SM_CYCAPTION, dpi);
    return SIZE{ScaleForDpi(minimumWidth(UnscaleForDpi(frameWidth, dpi)), dpi),
                ScaleForDpi(minimumHeight(UnscaleForDpi(caption, dpi), UnscaleForDpi(frameHeight, dpi)), dpi)};
}

void PlaceControls(HWND dialog, const KivLayout& layout)
{
    const struct {
        int id;
        const KivRect& rect;
    } places[] = {{IKivView::IDC_CHECK, layout.check},
                  {IKivView::IDC_UPGRADE, layout.upgrade},
                  {IKivView::IDC_LIST, layout.list},
                  {SUMMARY_CONTROL_ID, layout.summary}};
    HDWP moves = BeginDeferWindowPos(4);
    for (const auto& place : places) {
        HWND control = GetDlgItem(dialog, place.id);
        if (control == nullptr)
            continue;
        const int width = std::max(place.rect.width, 0);
        const int height = std::max(place.rect.height, 0);
        if (moves != nullptr)
            moves = DeferWindowPos(moves, control, nullptr, place.rect.x, place.rect.y, width, height,
                                   SWP_NOZORDER | SWP_NOACTIVATE);
        else
            SetWindowPos(control, nullptr, place.rect.x, place.rect.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (moves != nullptr)
        EndDeferWindowPos(moves);
}
