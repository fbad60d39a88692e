// The controller driven through a check and an upgrade against the virtual router on
// 127.0.0.1, with a fake view on the test thread.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "app/CKivOneClickDlg.h"
#include "engine/CRouterSession.h"
#include "engine/ComponentEntry.h"
#include "images/CSampleImage.h"
#include "tests/app/FakeView.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualRouter.h"

namespace {

class DialogWithRouter : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Router.Start());
        m_pDlg = std::make_unique<CKivOneClickDlg>(&m_View, m_Table);
        m_View.Attach(m_pDlg.get());
        m_pDlg->SetRouterOverrides(m_Router.Overrides());
        m_pDlg->SetImageDirectory(m_Router.Images());
        m_pDlg->SetLoopTestPath(m_Dir / "LoopTest.ini");
    }

    std::string Status(int row) { return m_View.m_List.GetItemText(row, IComponentList::COL_STATUS); }

    kivtest::TempDir m_Dir;
    kivtest::VirtualRouter m_Router; // stopped, and its exit status checked, after the dialog ends
    ComponentEntry m_Table[COMPONENT_COUNT];
    FakeView m_View;
    std::unique_ptr<CKivOneClickDlg> m_pDlg;
};

TEST_F(DialogWithRouter, ButtonsFollowTheStateTableThroughCheckAndUpgrade)
{
    m_pDlg->OnInitDialog();
    EXPECT_TRUE(m_View.Enabled(IKivView::IDC_CHECK));
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));

    m_pDlg->OnCheck();
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_CHECK));
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));
    ASSERT_TRUE(m_View.PumpUntilHandled(NOTIFY_FOCUS_UPGRADE)) << ::testing::PrintToString(m_View.Warnings());
    EXPECT_TRUE(m_View.Enabled(IKivView::IDC_CHECK));
    EXPECT_TRUE(m_View.Enabled(IKivView::IDC_UPGRADE));
    EXPECT_EQ(m_View.Focus(), IKivView::IDC_UPGRADE);
    ASSERT_EQ(m_View.m_List.GetItemCount(), 5);
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(Status(row), "Waiting for the upgrade");
        EXPECT_EQ(m_View.m_List.GetItemData(row), 0xFF0000u);
    }
    EXPECT_EQ(m_pDlg->GetSession().GetRouterIpText(), "127.0.0.1");

    m_pDlg->OnUpgrade();
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_CHECK));
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));
    ASSERT_TRUE(m_View.PumpUntilHandled(NOTIFY_UPGRADE_DONE));
    EXPECT_TRUE(m_View.Enabled(IKivView::IDC_CHECK));
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));
    EXPECT_EQ(m_View.Focus(), IKivView::IDC_CHECK);
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(Status(row).rfind("Download successfully (", 0), 0u) << row << ": " << Status(row);
    EXPECT_FALSE(m_pDlg->LastUpgradeFailedSilently());
    EXPECT_TRUE(m_View.Warnings().empty());
}

TEST_F(DialogWithRouter, LoopTestRepeatsCheckAndUpgradeUntilClosed)
{
    {
        std::ofstream(m_Dir / "LoopTest.ini") << "";
    }
    m_pDlg->OnInitDialog();
    ASSERT_TRUE(m_pDlg->IsLoopTest());

    m_pDlg->OnCheck();
    // check -> 2 s -> upgrade -> 35 s -> check -> 2 s -> upgrade ...
    ASSERT_TRUE(m_View.PumpUntilHandled(NOTIFY_START_CHECK, 1, std::chrono::seconds(120)));
    ASSERT_TRUE(m_View.PumpUntilHandled(NOTIFY_FOCUS_UPGRADE, 2, std::chrono::seconds(60)));
    std::vector<int> posted = m_View.Posted();
    std::vector<int> expected = {NOTIFY_FOCUS_UPGRADE, NOTIFY_START_UPGRADE, NOTIFY_UPGRADE_DONE, NOTIFY_START_CHECK,
                                 NOTIFY_FOCUS_UPGRADE};
    ASSERT_GE(posted.size(), expected.size());
    EXPECT_EQ(std::vector<int>(posted.begin(), posted.begin() + 5), expected);
    EXPECT_TRUE(m_View.Warnings().empty()) << m_View.Warnings().front();
    // Closing now: the timer toward the next upgrade is stopped, nothing is left running.
    m_View.SetAnswer(true);
    EXPECT_TRUE(m_pDlg->OnCancel());
    EXPECT_EQ(m_View.EndResult(), IKivView::ID_CANCEL);
}

} // namespace
