#pragma once

#include <windows.h>

#include <string>

#include "win/controls/CWindowSubclass.h"

// Owner-drawn push button attached to a dialog's button control: a face, an optional
// border, an icon left of the caption and a caption whose colours follow a six-entry colour
// table (COLORREF values, 0x00BBGGRR):
//   0 face / 1 caption while the mouse is over the button or it is pressed,
//   2 face / 3 caption normally, 4 face / 5 caption while it has the focus.
// Colours never set by the program follow the system's button colours. The button tracks
// the mouse (while flat), draws itself for every owner-draw request its parent reflects
// (CWindowSubclass::Reflect), and keeps its default-button role in the dialog although its
// style is owner-drawn. Sizes are scaled to the window's DPI.
class CButtonST : public CWindowSubclass {
public:
    enum Result { BTNST_OK = 0, BTNST_INVALIDINDEX = 3, BTNST_BADPARAM = 5 };
    enum ColorIndex {
        BTNST_COLOR_BK_IN = 0,
        BTNST_COLOR_FG_IN = 1,
        BTNST_COLOR_BK_OUT = 2,
        BTNST_COLOR_FG_OUT = 3,
        BTNST_COLOR_BK_FOCUS = 4,
        BTNST_COLOR_FG_FOCUS = 5,
        BTNST_MAX_COLORS = 6
    };
    // Longest URL a button opens.
    static constexpr size_t MAX_URL = 260;

    CButtonST();
    ~CButtonST() override;

    // Returns BTNST_OK, or BTNST_INVALIDINDEX when `index` is above 5.
    int SetColor(int index, COLORREF colour, bool repaint = true);
    int GetColor(int index, COLORREF* colour) const;
    // Brightens (positive) or darkens (negative) one colour; `offset` in -255..255,
    // BTNST_BADPARAM otherwise.
    int OffsetColor(int index, int offset, bool repaint = true);
    // Every colour back to the system's button face and text colours.
    void SetDefaultColors(bool repaint = true);

    // The "in" icon shows while the mouse is over the button or it is pressed, the "out"
    // icon otherwise; without an "out" icon the "in" icon always shows. Icon resources of
    // `module` (the program when null), at their own size scaled to the window's DPI; 0
    // means none. False when an icon cannot be loaded.
    bool SetIcon(int iconIn, int iconOut, HINSTANCE module = nullptr);

    void SetFlat(bool flat, bool repaint = true);
    bool IsFlat() const { return m_bIsFlat; }
    void DrawBorder(bool enable, bool repaint = true);
    // Tracks the mouse also while the program's window is not the active one.
    void SetAlwaysTrack(bool alwaysTrack) { m_bAlwaysTrack = alwaysTrack; }
    // Style 0: the caption moves by (1, 1) while pressed; style 1: by (0, 2).
    void SetPressedStyle(int style, bool repaint = true);
    POINT GetPressedOffset() const { return m_ptPressedOffset; }

    // Checkbox buttons toggle when clicked and show pressed while checked.
    void SetCheck(bool checked, bool repaint = true);
    bool GetCheck() const { return m_bChecked; }

    // A cursor resource of `module` shown over the button (0: the class cursor).
    bool SetBtnCursor(int cursorId, HINSTANCE module = nullptr);
    // A popup menu (the button destroys it) shown under the button when clicked; the chosen
    // command is posted to `owner` as WM_COMMAND.
    void SetMenu(HMENU menu, HWND owner);
    // A URL opened with the shell's "open" verb when the button is clicked (at most
    // MAX_URL characters; BTNST_BADPARAM for a longer one).
    int SetURL(const std::wstring& url);
    void SetTooltipText(const std::wstring& text);

    bool IsMouseOver() const { return m_bMouseOnButton; }
    bool IsDefault() const { return m_bIsDefault; }
    bool IsCheckBox() const { return m_bIsCheckBox; }

    // Paints one owner-draw request. Called for the reflected WM_DRAWITEM; tests call it
    // with a memory device context.
    void DrawItem(const DRAWITEMSTRUCT& item);

protected:
    struct PaintState {
        bool pressed = false;
        bool focused = false;
        bool disabled = false;
        bool hot = false;
    };

    // Overridable painting steps; the face step may narrow `rect` for the steps after it.
    virtual void OnDrawBackground(HDC dc, RECT& rect, const PaintState& state);
    virtual void OnDrawBorder(HDC dc, const RECT& rect, const PaintState& state);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnAttached() override;

    COLORREF Color(int index) const { return m_crColors[index]; }
    int Scaled(int pixels) const;
    void Repaint();

    bool m_bDrawBorder = true;

private:
    void DrawTheIcon(HDC dc, const RECT& rect, const PaintState& state, RECT& captionRect) const;
    void DrawTheText(HDC dc, const RECT& rect, const PaintState& state) const;
    bool FocusCuesShown() const;
    void OnMouseMove(WPARAM keys, LPARAM position);
    void SetMouseOver(bool over);
    void OnEnable(bool enabled);
    // The reflected BN_CLICKED. True when the click was taken here (menu, URL) and must not
    // reach the dialog as a command.
    bool OnClicked();
    void FreeIcons();
    HICON LoadIconScaled(int id, HINSTANCE module, SIZE& size) const;
    void UpdateTooltip();

    COLORREF m_crColors[BTNST_MAX_COLORS] = {};
    unsigned m_nCustomColors = 0; // bit i: colour i was set by the program
    bool m_bMouseOnButton = false;
    bool m_bIsFlat = true;
    bool m_bAlwaysTrack = true;
    bool m_bIsCheckBox = false;
    bool m_bChecked = false;
    bool m_bIsDefault = false;
    int m_nIconInId = 0; // loaded again when the DPI changes
    int m_nIconOutId = 0;
    HINSTANCE m_hIconModule = nullptr;
    HICON m_hIconIn = nullptr;
    HICON m_hIconOut = nullptr;
    SIZE m_IconInSize{};
    SIZE m_IconOutSize{};
    POINT m_ptPressedOffset{1, 1};
    HCURSOR m_hCursor = nullptr;
    HMENU m_hMenu = nullptr;
    HWND m_hMenuOwner = nullptr;
    std::wstring m_strUrl;
    std::wstring m_strTooltip;
    HWND m_hTooltip = nullptr;
};
