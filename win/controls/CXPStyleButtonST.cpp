#include "win/controls/CXPStyleButtonST.h"

#include "win/controls/CThemeHelperST.h"

CXPStyleButtonST::CXPStyleButtonST(CThemeHelperST* theme) : m_pTheme(theme) { m_bDrawBorder = false; }

void CXPStyleButtonST::SetThemeHelper(CThemeHelperST* theme)
{
    m_pTheme = theme;
    Repaint();
}

void CXPStyleButtonST::DrawAsToolbar(bool toolbar, bool repaint)
{
    m_bDrawToolbar = toolbar;
    if (repaint)
        Repaint();
}

int CXPStyleButtonST::ThemeState(const PaintState& state) const
{
    if (state.disabled)
        return CThemeHelperST::PBS_DISABLED;
    if (state.pressed)
        return CThemeHelperST::PBS_PRESSED;
    if (state.hot)
        return CThemeHelperST::PBS_HOT;
    if (IsDefault())
        return CThemeHelperST::PBS_DEFAULTED;
    return CThemeHelperST::PBS_NORMAL;
}

void CXPStyleButtonST::OnDrawBackground(HDC dc, RECT& rect, const PaintState& state)
{
    m_bLastPaintThemed = false;
    if (m_pTheme != nullptr && m_pTheme->IsAppThemed()) {
        CThemeHelperST::HTHEME theme = m_pTheme->OpenThemeData(GetHwnd(), m_bDrawToolbar ? L"TOOLBAR" : L"BUTTON");
        if (theme != nullptr) {
            const HRESULT drawn = m_pTheme->DrawThemeBackground(theme, GetHwnd(), dc, CThemeHelperST::BP_PUSHBUTTON,
                                                                ThemeState(state), &rect, nullptr);
            m_pTheme->CloseThemeData(theme);
            if (SUCCEEDED(drawn)) {
                m_bLastPaintThemed = true;
                return;
            }
        }
    }
    CButtonST::OnDrawBackground(dc, rect, state);
}

void CXPStyleButtonST::OnDrawBorder(HDC dc, const RECT& rect, const PaintState& state)
{
    if (!m_bLastPaintThemed)
        CButtonST::OnDrawBorder(dc, rect, state);
}
