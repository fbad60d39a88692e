#pragma once

#include "win/controls/CButtonST.h"

class CThemeHelperST;

// A CButtonST whose face is drawn by the system's visual styles when the program is
// themed: the push-button part in the state disabled, else pressed, else hot, else
// default, else normal, over the parent's background, and no border of its own. Without a
// theme (no helper, the library missing, the program not themed, no theme data for the
// button) it draws as a flat CButtonST without a border.
class CXPStyleButtonST : public CButtonST {
public:
    explicit CXPStyleButtonST(CThemeHelperST* theme = nullptr);

    void SetThemeHelper(CThemeHelperST* theme);
    // With the toolbar look the theme class "TOOLBAR" is used instead of "BUTTON".
    void DrawAsToolbar(bool toolbar, bool repaint = true);

    // True when the last paint drew the face with the theme.
    bool LastPaintThemed() const { return m_bLastPaintThemed; }

protected:
    void OnDrawBackground(HDC dc, RECT& rect, const PaintState& state) override;
    void OnDrawBorder(HDC dc, const RECT& rect, const PaintState& state) override;

private:
    int ThemeState(const PaintState& state) const;

    CThemeHelperST* m_pTheme;
    bool m_bDrawToolbar = false;
    bool m_bLastPaintThemed = false;
};
