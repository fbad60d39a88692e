#include "gui/controls/CThemeHelperST.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

#include <atomic>

namespace {
std::atomic<bool> g_themingAvailable{true};

QStyle* ApplicationStyle() { return g_themingAvailable.load() ? QApplication::style() : nullptr; }

void SetStateFlags(QStyleOptionButton& option, int stateId)
{
    option.state |= QStyle::State_Raised;
    if (stateId != CThemeHelperST::PBS_DISABLED)
        option.state |= QStyle::State_Enabled;
    if (stateId == CThemeHelperST::PBS_PRESSED) {
        option.state |= QStyle::State_Sunken;
        option.state &= ~QStyle::State_Raised;
    }
    if (stateId == CThemeHelperST::PBS_HOT)
        option.state |= QStyle::State_MouseOver;
    if (stateId == CThemeHelperST::PBS_DEFAULTED)
        option.features |= QStyleOptionButton::DefaultButton;
}
} // namespace

CThemeHelperST::CThemeHelperST() = default;
CThemeHelperST::~CThemeHelperST() = default;

void CThemeHelperST::SetThemingAvailable(bool available) { g_themingAvailable = available; }
bool CThemeHelperST::IsThemingAvailable() { return g_themingAvailable.load(); }

CThemeHelperST::HTHEME CThemeHelperST::OpenThemeData(QWidget* widget, const QString& className)
{
    QStyle* style = widget ? widget->style() : ApplicationStyle();
    if (!ApplicationStyle() || !style)
        return nullptr;
    return new Theme{style, className};
}

CThemeHelperST::HRESULT CThemeHelperST::CloseThemeData(HTHEME theme)
{
    if (!theme)
        return E_FAIL;
    delete theme;
    return S_OK;
}

CThemeHelperST::HRESULT CThemeHelperST::DrawThemeBackground(HTHEME theme, QWidget* widget, QPainter& painter,
                                                            int partId, int stateId, const QRect& rect)
{
    if (!theme || !theme->style || partId != BP_PUSHBUTTON)
        return E_FAIL;
    if (widget && widget->parentWidget()) {
        // The parent's background shows through the rounded corners of the face.
        painter.fillRect(rect, widget->parentWidget()->palette().window());
    }
    QStyleOptionButton option;
    if (widget)
        option.initFrom(widget);
    option.rect = rect;
    option.state &= ~(QStyle::State_Enabled | QStyle::State_MouseOver | QStyle::State_HasFocus);
    SetStateFlags(option, stateId);
    if (theme->className == QLatin1String("TOOLBAR")) {
        option.features |= QStyleOptionButton::Flat;
        theme->style->drawPrimitive(QStyle::PE_PanelButtonTool, &option, &painter, widget);
    } else {
        theme->style->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, widget);
    }
    return S_OK;
}

CThemeHelperST::HRESULT CThemeHelperST::DrawThemeText(HTHEME theme, QPainter& painter, int partId, int stateId,
                                                      const QString& text, int flags, const QRect& rect)
{
    if (!theme || !theme->style || partId != BP_PUSHBUTTON)
        return E_FAIL;
    QPalette palette = QApplication::palette();
    const bool enabled = stateId != PBS_DISABLED;
    theme->style->drawItemText(&painter, rect, flags, palette, enabled, text, QPalette::ButtonText);
    return S_OK;
}

bool CThemeHelperST::IsAppThemed() const { return ApplicationStyle() != nullptr; }

bool CThemeHelperST::IsThemeActive() const { return ApplicationStyle() != nullptr; }
