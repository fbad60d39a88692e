#pragma once

#include <QRect>
#include <QString>

class QPainter;
class QStyle;
class QWidget;

// Themed drawing through the application's style. A "theme" is opened for a widget and a
// class name ("BUTTON" or "TOOLBAR"); when the application is not themed (theming switched
// off, or no style) every call falls back: OpenThemeData gives nullptr, IsAppThemed and
// IsThemeActive give false, the drawing calls return E_FAIL.
class CThemeHelperST {
public:
    using HRESULT = long;
    static constexpr HRESULT S_OK = 0;
    static constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005L);

    // Push-button part and its states, numbered as the button uses them.
    static constexpr int BP_PUSHBUTTON = 1;
    static constexpr int PBS_NORMAL = 1;
    static constexpr int PBS_HOT = 2;
    static constexpr int PBS_PRESSED = 3;
    static constexpr int PBS_DISABLED = 4;
    static constexpr int PBS_DEFAULTED = 5;

    struct Theme {
        QStyle* style = nullptr;
        QString className;
    };
    using HTHEME = Theme*;

    CThemeHelperST();
    ~CThemeHelperST();
    CThemeHelperST(const CThemeHelperST&) = delete;
    CThemeHelperST& operator=(const CThemeHelperST&) = delete;

    HTHEME OpenThemeData(QWidget* widget, const QString& className);
    HRESULT CloseThemeData(HTHEME theme);
    // Draws the parent's background first when a widget is given, then the part.
    HRESULT DrawThemeBackground(HTHEME theme, QWidget* widget, QPainter& painter, int partId, int stateId,
                                const QRect& rect);
    HRESULT DrawThemeText(HTHEME theme, QPainter& painter, int partId, int stateId, const QString& text, int flags,
                          const QRect& rect);
    bool IsAppThemed() const;
    bool IsThemeActive() const;

    // Switches themed drawing off for the whole program, as if the theme library were
    // missing; the buttons then use their own unthemed drawing.
    static void SetThemingAvailable(bool available);
    static bool IsThemingAvailable();
};
