// Row output of the engine: the row rule, progress, elapsed time and status column.
#include <gtest/gtest.h>

#include "engine/CListModel.h"
#include "engine/CRouterSession.h"
#include "engine/CUpgradeEngine.h"
#include "tests/support/TestComponentTable.h"

using kivtest::TestComponentTable;

namespace {

class EngineRows : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 6; ++i)
            m_List.InsertItem(i, "row" + std::to_string(i));
    }

    CListModel m_List;
    TestComponentTable m_Table;
    CRouterSession m_Session{std::string()};
};

TEST_F(EngineRows, RowRuleFollowsTheFamilyThatHasImages)
{
    ASSERT_TRUE(m_Table.Load({1, 3, 5, 7, 8}));
    CUpgradeEngine engine(m_Session, m_Table.Get());
    // Family A present: its rows keep their index; family B images are never sent.
    EXPECT_TRUE(engine.IsFamilyASelected());
    EXPECT_EQ(engine.RowForComponent(COMPONENT_APP), 1);
    EXPECT_EQ(engine.RowForComponent(COMPONENT_FIRMWARE), 3);
    EXPECT_EQ(engine.RowForComponent(COMPONENT_DASHBOARD), 4);
    EXPECT_TRUE(engine.IsRouterImageToSend(COMPONENT_APP));
    EXPECT_FALSE(engine.IsRouterImageToSend(COMPONENT_COMMON_HTML));
    EXPECT_FALSE(engine.IsRouterImageToSend(COMPONENT_APP_B));
    EXPECT_FALSE(engine.IsRouterImageToSend(COMPONENT_FIRMWARE));

    // A family A image whose version did not match is not selected: family B takes over.
    m_Table[COMPONENT_APP].m_UpgradeFlag = 0;
    EXPECT_FALSE(engine.IsFamilyASelected());
    EXPECT_EQ(engine.RowForComponent(COMPONENT_COMMON_HTML), 0);
    EXPECT_EQ(engine.RowForComponent(COMPONENT_APP_B), 2);
    EXPECT_EQ(engine.RowForComponent(COMPONENT_FIRMWARE), 4);
    EXPECT_EQ(engine.RowForComponent(COMPONENT_DASHBOARD), 5);
    EXPECT_TRUE(engine.IsRouterImageToSend(COMPONENT_APP_B));
    EXPECT_EQ(engine.RowForComponent(COMPONENT_NONE), CUpgradeEngine::NO_ROW);
}

TEST_F(EngineRows, ProgressSkipsRepeatsAcrossRows)
{
    CUpgradeEngine engine(m_Session, m_Table.Get());
    engine.SetList(&m_List);
    engine.SetRow(0);
    engine.SetProgress(41);
    engine.SetProgress(42);
    EXPECT_EQ(m_List.GetItemText(0, IComponentList::COL_PERCENT), "42%");
    EXPECT_EQ(CUpgradeEngine::GetLastProgress(), 42);

    // The same value on another row is not written again.
    engine.SetRow(1);
    engine.SetProgress(42);
    EXPECT_EQ(m_List.GetItemText(1, IComponentList::COL_PERCENT), "");
    engine.SetProgress(0);
    EXPECT_EQ(m_List.GetItemText(1, IComponentList::COL_PERCENT), "0%");
    m_List.SetItemText(1, IComponentList::COL_PERCENT, "x");
    engine.SetProgress(0);
    EXPECT_EQ(m_List.GetItemText(1, IComponentList::COL_PERCENT), "x");

    // Row 9 does not exist: nothing visible changes, but the value is remembered.
    engine.SetRow(CUpgradeEngine::NO_ROW);
    engine.SetProgress(100);
    EXPECT_EQ(CUpgradeEngine::GetLastProgress(), 100);
    EXPECT_EQ(m_List.GetItemCount(), 6);
}

TEST(EngineProgress, PercentOfTotalsAbove42949673Bytes)
{
    // bytes x 100 leaves 32 bits from 42,949,673 bytes on (32 bits would give 7 here).
    EXPECT_EQ(CUpgradeEngine::ProgressPercent(50000000u, 100000000u), 50);
    EXPECT_EQ(CUpgradeEngine::ProgressPercent(42949673u, 42949674u), 99);
    EXPECT_EQ(CUpgradeEngine::ProgressPercent(4000000000u, 4294967295u), 93);
    EXPECT_EQ(CUpgradeEngine::ProgressPercent(4294967295u, 4294967295u), 100);
    // Rounded down; a total of 0 is complete; never above 100.
    EXPECT_EQ(CUpgradeEngine::ProgressPercent(7299, 7300), 99);
    EXPECT_EQ(CUpgradeEngine::ProgressPercent(0, 7300), 0);
    EXPECT_EQ(CUpgradeEngine::ProgressPercent(0, 0), 100);
    EXPECT_EQ(CUpgradeEngine::ProgressPercent(7301, 7300), 100);
}

TEST(EngineElapsed, FormatsMinutesWithinTheHour)
{
    EXPECT_EQ(CUpgradeEngine::FormatElapsed(3723), " (02:03)");
    EXPECT_EQ(CUpgradeEngine::FormatElapsed(0), " (00:00)");
    EXPECT_EQ(CUpgradeEngine::FormatElapsed(59 * 60 + 59), " (59:59)");
    EXPECT_EQ(CUpgradeEngine::FormatElapsed(3600), " (00:00)");
    EXPECT_EQ(CUpgradeEngine::FormatElapsed(-5), " (00:00)");
}

TEST_F(EngineRows, StatusTextSetsColourWidensColumnAndLogs)
{
    CUpgradeEngine engine(m_Session, m_Table.Get());
    engine.SetList(&m_List);
    engine.SetRow(2);
    const int initial = m_List.GetColumnWidth(IComponentList::COL_STATUS);

    engine.SetStatusText("short", CUpgradeEngine::COLOUR_FAILURE);
    EXPECT_EQ(m_List.GetItemText(2, IComponentList::COL_STATUS), "short");
    EXPECT_EQ(m_List.GetItemData(2), 0x0000FFu); // red
    EXPECT_EQ(m_List.GetColumnWidth(IComponentList::COL_STATUS), initial);

    const std::string longText(40, 'w');
    engine.SetStatusText(longText, CUpgradeEngine::COLOUR_RUNNING);
    EXPECT_EQ(m_List.GetColumnWidth(IComponentList::COL_STATUS), m_List.GetStringWidth(longText + "..."));
    EXPECT_EQ(m_List.GetItemData(2), 0u);
    // A shorter text never narrows it again.
    engine.SetStatusText("short", 0);
    EXPECT_EQ(m_List.GetColumnWidth(IComponentList::COL_STATUS), m_List.GetStringWidth(longText + "..."));

    // Status by string id; a missing id changes nothing and logs nothing.
    engine.SetStatus(CUpgradeEngine::IDS_UNLOCKING, 0);
    EXPECT_EQ(m_List.GetItemText(2, IComponentList::COL_STATUS), "Unlocking the wireless module");
    engine.SetStatus(99999, CUpgradeEngine::COLOUR_FAILURE);
    EXPECT_EQ(m_List.GetItemText(2, IComponentList::COL_STATUS), "Unlocking the wireless module");

    const std::string pending = m_Session.Log().GetPending();
    EXPECT_NE(pending.find(" " + longText + "\r\n"), std::string::npos);
    EXPECT_NE(pending.find(" Unlocking the wireless module\r\n"), std::string::npos);
    EXPECT_EQ(pending.find("..."), std::string::npos);
}

// True when `text` is `prefix` followed by the elapsed time of some whole number of seconds
// from `low` to `high` (FormatElapsed itself is checked above with literals).
bool ShowsElapsed(const std::string& text, const std::string& prefix, long long low, long long high)
{
    for (long long seconds = low; seconds <= high; ++seconds) {
        if (text == prefix + CUpgradeEngine::FormatElapsed(seconds))
            return true;
    }
    return false;
}

TEST_F(EngineRows, ResultShowsTextElapsedTimeAndColour)
{
    CUpgradeEngine engine(m_Session, m_Table.Get());
    engine.SetList(&m_List);
    engine.SetRow(1);
    const std::time_t before = std::time(nullptr);
    engine.SetStepStart(before - 65);
    engine.SetResultId(CUpgradeEngine::IDS_DOWNLOAD_SUCCESS);
    engine.ShowResult();
    const std::time_t after = std::time(nullptr);
    const std::string text = m_List.GetItemText(1, IComponentList::COL_STATUS);
    EXPECT_TRUE(ShowsElapsed(text, "Download successfully", 65, 65 + (after - before))) << text;
    EXPECT_EQ(m_List.GetItemData(1), 0xFF0000u); // blue
    // The next step is timed from the result on.
    EXPECT_GE(engine.GetStepStart(), before);
    EXPECT_LE(engine.GetStepStart(), after);

    engine.SetResultId(CUpgradeEngine::IDS_DOWNLOAD_FAILED);
    engine.ShowResult();
    const std::time_t end = std::time(nullptr);
    const std::string failed = m_List.GetItemText(1, IComponentList::COL_STATUS);
    EXPECT_TRUE(ShowsElapsed(failed, "Download failed", 0, end - before)) << failed;
    EXPECT_EQ(m_List.GetItemData(1), 0x0000FFu); // red
}

TEST(ListModel, WritesOutsideTheListChangeNothing)
{
    CListModel list;
    EXPECT_EQ(list.InsertItem(5, "a"), 0);
    EXPECT_FALSE(list.SetItemText(1, 0, "x"));
    EXPECT_FALSE(list.SetItemText(0, 5, "x"));
    EXPECT_FALSE(list.SetItemData(9, 1));
    EXPECT_EQ(list.GetStringWidth("没有"), 2 * CListModel::PIXELS_PER_CHAR);
    EXPECT_EQ(list.Snapshot().size(), 1u);
}

} // namespace
