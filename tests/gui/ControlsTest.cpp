// Owner-drawn buttons, the theme helper and the coloured component list.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QImage>
#include <QPainter>
#include <QTest>

#include "UiTestSupport.h"
#include "gui/controls/CMyListCtrl.h"
#include "gui/controls/CThemeHelperST.h"
#include "gui/controls/CXPStyleButtonST.h"
#include "gui/controls/ColorRef.h"

namespace {
int CountPixels(const QImage& image, const QRect& area, const std::function<bool(QColor)>& match)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += match(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool Reddish(QColor c) { return c.red() > 180 && c.green() < 80 && c.blue() < 80; }
bool Bluish(QColor c) { return c.blue() > 180 && c.red() < 80 && c.green() < 80; }

void Hover(QWidget* w)
{
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(w, &enter);
}

class ControlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
};
} // namespace

TEST_F(ControlsTest, ColourTableReturnCodesAndDefaults)
{
    CButtonST button;
    const uint32_t face = ColorRefFromColor(QApplication::palette().color(QPalette::Button));
    const uint32_t text = ColorRefFromColor(QApplication::palette().color(QPalette::ButtonText));
    for (int i = 0; i < 6; ++i) {
        uint32_t c = 0x123456;
        ASSERT_EQ(button.GetColor(i, &c), CButtonST::BTNST_OK);
        EXPECT_EQ(c, i % 2 == 0 ? face : text) << i;
    }
    EXPECT_EQ(button.SetColor(1, 0x0000FF, true), 0);
    EXPECT_EQ(button.SetColor(6, 0x0000FF, true), 3);
    EXPECT_EQ(button.SetColor(-1, 0, false), 3);
    uint32_t c = 0;
    EXPECT_EQ(button.GetColor(6, &c), 3);
    EXPECT_EQ(button.GetColor(1, &c), 0);
    EXPECT_EQ(c, 0x0000FFu);

    button.SetColor(2, 0x102030, false);
    EXPECT_EQ(button.OffsetColor(2, 256), 5);
    EXPECT_EQ(button.OffsetColor(2, -256), 5);
    EXPECT_EQ(button.OffsetColor(7, 10), 3);
    EXPECT_EQ(button.OffsetColor(2, 0x20), 0);
    button.GetColor(2, &c);
    EXPECT_EQ(c, 0x304050u);
    EXPECT_EQ(button.OffsetColor(2, -255), 0);
    button.GetColor(2, &c);
    EXPECT_EQ(c, 0u); // clamped per channel, never wrapping

    EXPECT_EQ(button.GetPressedOffset(), QPoint(1, 1));
    button.SetPressedStyle(1);
    EXPECT_EQ(button.GetPressedOffset(), QPoint(0, 2));
}

// Unthemed, the caption is drawn in colour 3 normally and colour 1 while hovered; a
// disabled button ignores the mouse.
TEST_F(ControlsTest, HoverCaptionTurnsRedOnlyWhileHoveredAndEnabled)
{
    for (bool themed : {false, true}) {
        CThemeHelperST::SetThemingAvailable(themed);
        CThemeHelperST theme;
        CXPStyleButtonST button;
        button.SetThemeHelper(&theme);
        button.setText(QStringLiteral("&Check"));
        button.resize(200, 50);
        button.SetColor(CButtonST::BTNST_COLOR_FG_IN, 0x0000FF, true);
        button.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
        QEvent away(QEvent::Leave); // the offscreen cursor starts over the window
        QApplication::sendEvent(&button, &away);

        EXPECT_EQ(CountPixels(button.grab().toImage(), button.rect(), Reddish), 0) << themed;
        EXPECT_EQ(button.LastPaintThemed(), themed);
        Hover(&button);
        EXPECT_TRUE(button.IsMouseOver());
        EXPECT_GT(CountPixels(button.grab().toImage(), button.rect(), Reddish), 20) << themed;
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&button, &leave);
        EXPECT_FALSE(button.IsMouseOver());

        button.setEnabled(false);
        Hover(&button);
        EXPECT_FALSE(button.IsMouseOver());
        EXPECT_EQ(CountPixels(button.grab().toImage(), button.rect(), Reddish), 0);
    }
    CThemeHelperST::SetThemingAvailable(true);
}

TEST_F(ControlsTest, ThemeStatesAndFallbacks)
{
    CXPStyleButtonST button;
    button.setDefault(true);
    using S = CThemeHelperST;
    struct Case {
        bool pressed, focused, disabled, hot;
        int expected;
    } cases[] = {
        {true, true, true, true, S::PBS_DISABLED},
        {true, false, false, true, S::PBS_PRESSED},
        {false, false, false, true, S::PBS_HOT},
        {false, true, false, false, S::PBS_DEFAULTED},
    };
    struct Probe : CXPStyleButtonST {
        using CXPStyleButtonST::DrawState;
    };
    for (const Case& c : cases) {
        Probe::DrawState state;
        state.pressed = c.pressed;
        state.focused = c.focused;
        state.disabled = c.disabled;
        state.hot = c.hot;
        EXPECT_EQ(button.ThemeState(state), c.expected);
    }
    button.setDefault(false);
    EXPECT_EQ(button.ThemeState({}), S::PBS_NORMAL);

    CThemeHelperST::SetThemingAvailable(false);
    CThemeHelperST theme;
    QImage image(10, 10, QImage::Format_ARGB32);
    QPainter painter(&image);
    EXPECT_FALSE(theme.IsAppThemed());
    EXPECT_FALSE(theme.IsThemeActive());
    EXPECT_EQ(theme.OpenThemeData(&button, QStringLiteral("BUTTON")), nullptr);
    EXPECT_EQ(theme.DrawThemeBackground(nullptr, nullptr, painter, 1, 1, image.rect()), S::E_FAIL);
    EXPECT_EQ(theme.DrawThemeText(nullptr, painter, 1, 1, QStringLiteral("x"), 0, image.rect()), S::E_FAIL);
    EXPECT_EQ(theme.CloseThemeData(nullptr), S::E_FAIL);
    CThemeHelperST::SetThemingAvailable(true);
    EXPECT_TRUE(theme.IsAppThemed());
}

TEST_F(ControlsTest, ListRowsAlternateAndStatusColumnTakesTheRowColour)
{
    CMyListCtrl list;
    list.resize(600, 200);
    for (int i = 0; i < 5; ++i)
        list.InsertColumn(i, "Header", i == 4 ? Qt::AlignLeft : Qt::AlignHCenter, 110);
    for (int row = 0; row < 3; ++row) {
        list.InsertItem(row, "MMMMMMMM");
        list.SetItemText(row, 1, "MMMMMMMM");
        list.SetItemText(row, 4, "MMMMMMMM");
    }
    list.SetItemData(0, 0x0000FF); // red
    list.SetItemData(1, 0xFF0000); // blue
    list.SetItemData(2, 0);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    EXPECT_EQ(list.GetItemData(0), 0x0000FFu);

    const QImage image = list.viewport()->grab().toImage();
    auto cell = [&](int row, int column) { return list.visualRect(list.model()->index(row, column)); };
    // Row backgrounds 0xF9F7F0 (even rows) and 0xEFE8E5 (odd rows), as 0x00BBGGRR.
    const QColor even(0xF0, 0xF7, 0xF9);
    const QColor odd(0xE5, 0xE8, 0xEF);
    EXPECT_EQ(image.pixelColor(cell(0, 2).topLeft() + QPoint(3, 3)), even);
    EXPECT_EQ(image.pixelColor(cell(1, 2).topLeft() + QPoint(3, 3)), odd);
    EXPECT_EQ(image.pixelColor(cell(2, 2).topLeft() + QPoint(3, 3)), even);

    EXPECT_GT(CountPixels(image, cell(0, 4), Reddish), 10);
    EXPECT_EQ(CountPixels(image, cell(0, 1), Reddish), 0);
    EXPECT_GT(CountPixels(image, cell(1, 4), Bluish), 10);
    EXPECT_EQ(CountPixels(image, cell(1, 0), Bluish), 0);

    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(list.showGrid());
    EXPECT_FALSE(list.SetItemText(3, 0, "x"));
    EXPECT_FALSE(list.SetItemData(7, 1));
    EXPECT_TRUE(list.DeleteItem(0));
    EXPECT_EQ(list.GetItemText(0, 0), "MMMMMMMM");
    EXPECT_EQ(list.GetItemData(0), 0xFF0000u);
}

TEST_F(ControlsTest, HeaderDividersCannotBeDraggedOrDoubleClicked)
{
    CMyListCtrl list;
    CMyHeaderCtrl* header = list.GetHeaderCtrl();
    list.Setup(); // a second set-up does not attach another header
    EXPECT_EQ(list.horizontalHeader(), header);
    EXPECT_TRUE(list.IsHeaderAttached());
    list.resize(500, 200);
    list.InsertColumn(0, "Type", Qt::AlignHCenter, 100);
    list.InsertColumn(1, "Status", Qt::AlignLeft, 120);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));

    const QPoint divider(header->sectionViewportPosition(1) - 1, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, divider);
    QTest::mouseMove(header->viewport(), divider + QPoint(60, 0));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, divider + QPoint(60, 0));
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, divider);
    EXPECT_EQ(list.GetColumnWidth(0), 100);
    EXPECT_EQ(list.GetColumnWidth(1), 120);
    EXPECT_EQ(header->viewport()->cursor().shape(), Qt::ArrowCursor);
}
