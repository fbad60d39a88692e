#include "gui/controls/CButtonST.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

#include "gui/controls/ColorRef.h"

namespace {
constexpr int ICON_MARGIN = 6;

uint32_t OffsetChannel(uint32_t colour, int shift, int offset)
{
    const int value = static_cast<int>((colour >> shift) & 0xFF) + offset;
    return static_cast<uint32_t>(std::clamp(value, 0, 255)) << shift;
}
} // namespace

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent)
{
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
    SetDefaultColors(false);
    connect(this, &QAbstractButton::clicked, this, &CButtonST::OnClicked);
}

CButtonST::~CButtonST() = default;

void CButtonST::SetDefaultColors(bool repaint)
{
    const QPalette palette = QApplication::palette();
    const uint32_t face = ColorRefFromColor(palette.color(QPalette::Button));
    const uint32_t text = ColorRefFromColor(palette.color(QPalette::ButtonText));
    for (int i = 0; i < BTNST_MAX_COLORS; ++i)
        m_crColors[i] = (i % 2 == 0) ? face : text;
    if (repaint)
        update();
}

int CButtonST::SetColor(int index, uint32_t colour, bool repaint)
{
    if (index < 0 || index >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    m_crColors[index] = colour;
    if (repaint)
        update();
    return BTNST_OK;
}

int CButtonST::GetColor(int index, uint32_t* colour) const
{
    if (index < 0 || index >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    if (colour)
        *colour = m_crColors[index];
    return BTNST_OK;
}

int CButtonST::OffsetColor(int index, int offset, bool repaint)
{
    if (index < 0 || index >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    if (offset < -255 || offset > 255)
        return BTNST_BADPARAM;
    const uint32_t c = m_crColors[index];
    m_crColors[index] = OffsetChannel(c, 0, offset) | OffsetChannel(c, 8, offset) | OffsetChannel(c, 16, offset);
    if (repaint)
        update();
    return BTNST_OK;
}

QColor CButtonST::Color(int index) const { return ColorFromColorRef(m_crColors[index]); }

void CButtonST::SetIcon(const QIcon& iconIn, const QIcon& iconOut)
{
    m_IconIn = iconIn;
    m_IconOut = iconOut;
    m_IconSize = QSize();
    if (!m_IconIn.isNull()) {
        const QList<QSize> sizes = m_IconIn.availableSizes();
        m_IconSize = sizes.isEmpty() ? QSize(32, 32) : sizes.first();
    }
    update();
}

void CButtonST::SetIcon(int iconInId, int iconOutId)
{
    auto load = [](int id) { return id == 0 ? QIcon() : QIcon(QStringLiteral(":/icons/%1.png").arg(id)); };
    SetIcon(load(iconInId), load(iconOutId));
}

void CButtonST::SetFlat(bool flat, bool repaint)
{
    m_bIsFlat = flat;
    if (repaint)
        update();
}

void CButtonST::DrawBorder(bool enable, bool repaint)
{
    m_bDrawBorder = enable;
    if (repaint)
        update();
}

void CButtonST::SetPressedStyle(int style, bool repaint)
{
    m_ptPressedOffset = style == 1 ? QPoint(0, 2) : QPoint(1, 1);
    if (repaint)
        update();
}

void CButtonST::SetCheckBox(bool checkBox)
{
    m_bIsCheckBox = checkBox;
    setCheckable(checkBox);
}

void CButtonST::SetBtnCursor(const QCursor& cursor) { setCursor(cursor); }
void CButtonST::SetMenu(QMenu* menu) { m_pMenu = menu; }
void CButtonST::SetURL(const QString& url) { m_Url = url.isEmpty() ? QUrl() : QUrl(url.left(260)); }
void CButtonST::SetTooltipText(const QString& text) { setToolTip(text); }

CButtonST::DrawState CButtonST::CurrentDrawState() const
{
    DrawState state;
    state.pressed = isDown() || (m_bIsCheckBox && isChecked());
    state.focused = hasFocus();
    state.disabled = !isEnabled();
    state.hot = m_bMouseOnButton && !state.disabled;
    return state;
}

void CButtonST::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const DrawState state = CurrentDrawState();
    QRect rect = this->rect();
    OnDrawBackground(painter, rect, state);
    OnDrawBorder(painter, rect, state);
    QRect captionRect = rect;
    DrawTheIcon(painter, rect, state, captionRect);
    DrawTheText(painter, captionRect, state);
    if (!m_bIsFlat && state.focused) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = this->rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void CButtonST::OnDrawBackground(QPainter& painter, QRect& rect, const DrawState& state)
{
    if (!m_bIsFlat && (state.focused || isDefault())) {
        painter.setPen(Qt::black);
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
        rect.adjust(1, 1, -1, -1);
    }
    int index = BTNST_COLOR_BK_OUT;
    if (state.hot || state.pressed)
        index = BTNST_COLOR_BK_IN;
    else if (state.focused)
        index = BTNST_COLOR_BK_FOCUS;
    painter.fillRect(rect, Color(index));
}

void CButtonST::OnDrawBorder(QPainter& painter, const QRect& rect, const DrawState& state)
{
    const QPalette& pal = palette();
    const QRect r = rect.adjusted(0, 0, -1, -1);
    if (!m_bIsFlat) {
        if (state.pressed) {
            painter.setPen(pal.color(QPalette::Dark));
            painter.drawRect(r);
            return;
        }
        // Raised edge: light lines at top and left, shadows at bottom and right.
        painter.setPen(pal.color(QPalette::Light));
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(pal.color(QPalette::Midlight));
        painter.drawLine(r.topLeft() + QPoint(1, 1), r.topRight() + QPoint(-1, 1));
        painter.drawLine(r.topLeft() + QPoint(1, 1), r.bottomLeft() + QPoint(1, -1));
        painter.setPen(pal.color(QPalette::Shadow));
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawLine(r.bottomLeft() + QPoint(1, -1), r.bottomRight() + QPoint(-1, -1));
        painter.drawLine(r.topRight() + QPoint(-1, 1), r.bottomRight() + QPoint(-1, -1));
        return;
    }
    if (!m_bDrawBorder)
        return;
    if (state.pressed || state.hot) {
        const QColor topLeft = state.pressed ? pal.color(QPalette::Dark) : pal.color(QPalette::Light);
        const QColor bottomRight = state.pressed ? pal.color(QPalette::Light) : pal.color(QPalette::Dark);
        painter.setPen(topLeft);
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    }
}

void CButtonST::DrawTheIcon(QPainter& painter, const QRect& rect, const DrawState& state, QRect& captionRect) const
{
    const bool useIn = state.hot || state.pressed || m_IconOut.isNull();
    const QIcon& icon = useIn ? m_IconIn : m_IconOut;
    if (icon.isNull() || !m_IconSize.isValid())
        return;
    QPoint topLeft(rect.left() + ICON_MARGIN, rect.top() + (rect.height() - m_IconSize.height()) / 2);
    if (state.pressed)
        topLeft += m_ptPressedOffset;
    const QPixmap pixmap =
        icon.pixmap(m_IconSize, devicePixelRatioF(), state.disabled ? QIcon::Disabled : QIcon::Normal);
    painter.drawPixmap(QRect(topLeft, m_IconSize), pixmap);
    captionRect.setLeft(rect.left() + ICON_MARGIN + m_IconSize.width());
}

void CButtonST::DrawTheText(QPainter& painter, const QRect& rect, const DrawState& state) const
{
    const QString caption = text();
    if (caption.isEmpty())
        return;
    QRect textRect = rect;
    if (state.pressed)
        textRect.translate(m_ptPressedOffset);
    const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    painter.setFont(font());
    if (state.disabled) {
        // Embossed: a highlight copy one pixel down and right, the shadow copy on top.
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(textRect.translated(1, 1), flags, caption);
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawText(textRect, flags, caption);
        return;
    }
    int index = BTNST_COLOR_FG_OUT;
    if (state.hot || state.pressed)
        index = BTNST_COLOR_FG_IN;
    else if (state.focused)
        index = BTNST_COLOR_FG_FOCUS;
    painter.setPen(Color(index));
    painter.drawText(textRect, flags, caption);
}

void CButtonST::SetMouseOver(bool over)
{
    if (m_bMouseOnButton == over)
        return;
    m_bMouseOnButton = over;
    update();
}

void CButtonST::enterEvent(QEnterEvent* event)
{
    QPushButton::enterEvent(event);
    if (!m_bIsFlat || !isEnabled())
        return;
    // Dragging with the left button held onto a button does not make it hot.
    if (QApplication::mouseButtons() & Qt::LeftButton)
        return;
    if (!m_bAlwaysTrack && !isActiveWindow())
        return;
    SetMouseOver(true);
}

void CButtonST::leaveEvent(QEvent* event)
{
    QPushButton::leaveEvent(event);
    SetMouseOver(false);
}

void CButtonST::focusOutEvent(QFocusEvent* event)
{
    QPushButton::focusOutEvent(event);
    SetMouseOver(false);
}

void CButtonST::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QPushButton::mousePressEvent(event);
}

void CButtonST::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::ActivationChange:
        if (!isActiveWindow() && !m_bAlwaysTrack)
            SetMouseOver(false);
        break;
    case QEvent::EnabledChange:
        if (!isEnabled()) {
            SetMouseOver(false);
            if (hasFocus() && window())
                window()->setFocus();
        }
        break;
    case QEvent::ApplicationPaletteChange:
        // A system colour change resets the table to the system button colours.
        SetDefaultColors(true);
        break;
    default: break;
    }
}

bool CButtonST::event(QEvent* event)
{
    if (event->type() == QEvent::WindowDeactivate && !m_bAlwaysTrack)
        SetMouseOver(false);
    return QPushButton::event(event);
}

void CButtonST::OnClicked()
{
    if (m_bIsCheckBox)
        return; // the checkable button has toggled itself
    if (m_pMenu) {
        m_pMenu->popup(mapToGlobal(rect().bottomLeft()));
        return;
    }
    if (m_Url.isValid())
        QDesktopServices::openUrl(m_Url);
}
