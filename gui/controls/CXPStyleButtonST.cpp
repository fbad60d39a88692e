#include "gui/controls/CXPStyleButtonST.h"

#include <QPainter>

#include "gui/controls/CThemeHelperST.h"

CXPStyleButtonST::CXPStyleButtonST(QWidget* parent) : CButtonST(parent) { m_bDrawBorder = false; }

void CXPStyleButtonST::SetThemeHelper(CThemeHelperST* helper)
{
    m_pTheme = helper;
    update();
}

void CXPStyleButtonST::DrawAsToolbar(bool toolbar, bool repaint)
{
    m_bDrawToolbar = toolbar;
    if (repaint)
        update();
}

int CXPStyleButtonST::ThemeState(const DrawState& state) const
{
    if (state.disabled)
        return CThemeHelperST::PBS_DISABLED;
    if (state.pressed)
        return CThemeHelperST::PBS_PRESSED;
    if (state.hot)
        return CThemeHelperST::PBS_HOT;
    if (isDefault())
        return CThemeHelperST::PBS_DEFAULTED;
    return CThemeHelperST::PBS_NORMAL;
}

void CXPStyleButtonST::OnDrawBackground(QPainter& painter, QRect& rect, const DrawState& state)
{
    m_bLastPaintThemed = false;
    if (m_pTheme && m_pTheme->IsAppThemed()) {
        const QString className = m_bDrawToolbar ? QStringLiteral("TOOLBAR") : QStringLiteral("BUTTON");
        if (CThemeHelperST::HTHEME theme = m_pTheme->OpenThemeData(this, className)) {
            const auto hr = m_pTheme->DrawThemeBackground(theme, this, painter, CThemeHelperST::BP_PUSHBUTTON,
                                                          ThemeState(state), rect);
            m_pTheme->CloseThemeData(theme);
            if (hr == CThemeHelperST::S_OK) {
                m_bLastPaintThemed = true;
                return;
            }
        }
    }
    CButtonST::OnDrawBackground(painter, rect, state);
}

void CXPStyleButtonST::OnDrawBorder(QPainter& painter, const QRect& rect, const DrawState& state)
{
    if (m_bLastPaintThemed)
        return;
    CButtonST::OnDrawBorder(painter, rect, state);
}
