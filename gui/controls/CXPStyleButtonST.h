#pragma once

#include "gui/controls/CButtonST.h"

class CThemeHelperST;

// A CButtonST whose face is drawn by the application's theme when the application is
// themed (state disabled, else pressed, else hot, else default, else normal). Without a
// theme it falls back to the flat, borderless CButtonST drawing.
class CXPStyleButtonST : public CButtonST {
    Q_OBJECT
public:
    explicit CXPStyleButtonST(QWidget* parent = nullptr);

    void SetThemeHelper(CThemeHelperST* helper);
    // With the toolbar look the theme class "TOOLBAR" is used instead of "BUTTON".
    void DrawAsToolbar(bool toolbar, bool repaint = true);

    // Theme state the face is drawn in for the given draw state.
    int ThemeState(const DrawState& state) const;
    // True when the last paint used the theme.
    bool LastPaintThemed() const { return m_bLastPaintThemed; }

protected:
    void OnDrawBackground(QPainter& painter, QRect& rect, const DrawState& state) override;
    void OnDrawBorder(QPainter& painter, const QRect& rect, const DrawState& state) override;

private:
    CThemeHelperST* m_pTheme = nullptr;
    bool m_bDrawToolbar = false;
    bool m_bLastPaintThemed = false;
};
