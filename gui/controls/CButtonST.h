#pragma once

#include <QIcon>
#include <QPointer>
#include <QPushButton>
#include <QSize>
#include <QUrl>
#include <cstdint>

class QMenu;

// Owner-drawn push button: a face, an optional border, an icon left of the caption and a
// caption whose colours follow a six-entry colour table (0x00BBGGRR values):
//   0 face / 1 caption while the mouse is over the button or it is pressed,
//   2 face / 3 caption normally, 4 face / 5 caption while it has the focus.
class CButtonST : public QPushButton {
    Q_OBJECT
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

    explicit CButtonST(QWidget* parent = nullptr);
    ~CButtonST() override;

    // Returns BTNST_OK, or BTNST_INVALIDINDEX when `index` is above 5.
    int SetColor(int index, uint32_t colour, bool repaint = true);
    int GetColor(int index, uint32_t* colour) const;
    // Brightens (positive) or darkens (negative) one colour; `offset` in -255..255,
    // BTNST_BADPARAM otherwise.
    int OffsetColor(int index, int offset, bool repaint = true);
    // Restores the defaults taken from the system button colours.
    void SetDefaultColors(bool repaint = true);

    // The "in" icon shows while the mouse is over the button or it is pressed, the "out"
    // icon otherwise; without an "out" icon the "in" icon always shows.
    void SetIcon(const QIcon& iconIn, const QIcon& iconOut = QIcon());
    // Icons from the program's resources (":/icons/<id>.png"); 0 means none.
    void SetIcon(int iconInId, int iconOutId);

    void SetFlat(bool flat, bool repaint = true);
    bool IsFlat() const { return m_bIsFlat; }
    void DrawBorder(bool enable, bool repaint = true);
    void SetAlwaysTrack(bool alwaysTrack) { m_bAlwaysTrack = alwaysTrack; }
    // Style 0: caption moves by (1, 1) while pressed; style 1: by (0, 2).
    void SetPressedStyle(int style, bool repaint = true);
    QPoint GetPressedOffset() const { return m_ptPressedOffset; }
    void SetCheckBox(bool checkBox);

    void SetBtnCursor(const QCursor& cursor);
    void SetMenu(QMenu* menu);
    void SetURL(const QString& url);
    void SetTooltipText(const QString& text);

    bool IsMouseOver() const { return m_bMouseOnButton; }

protected:
    struct DrawState {
        bool pressed = false;
        bool focused = false;
        bool disabled = false;
        bool hot = false;
    };

    // Overridable painting steps; `rect` may be narrowed by the face step.
    virtual void OnDrawBackground(QPainter& painter, QRect& rect, const DrawState& state);
    virtual void OnDrawBorder(QPainter& painter, const QRect& rect, const DrawState& state);

    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

    DrawState CurrentDrawState() const;
    QColor Color(int index) const;

    bool m_bDrawBorder = true;

private:
    void DrawTheIcon(QPainter& painter, const QRect& rect, const DrawState& state, QRect& captionRect) const;
    void DrawTheText(QPainter& painter, const QRect& rect, const DrawState& state) const;
    void SetMouseOver(bool over);
    void OnClicked();

    uint32_t m_crColors[BTNST_MAX_COLORS] = {};
    bool m_bMouseOnButton = false;
    bool m_bIsFlat = true;
    bool m_bAlwaysTrack = true;
    bool m_bIsCheckBox = false;
    QIcon m_IconIn;
    QIcon m_IconOut;
    QSize m_IconSize;
    QPoint m_ptPressedOffset{1, 1};
    QPointer<QMenu> m_pMenu;
    QUrl m_Url;
};
