// Each failure of the virtual router mapped to the result, row, colour and log lines of a run.
#include "tests/support/EngineSimFixture.h"
#include "tests/support/TestImages.h"

namespace {

using Fault = kivtest::EngineSimFixture;

// Router module transfer ---------------------------------------------------------------

TEST_F(Fault, RouterResultOtherThanOkStopsTheRun)
{
    AddFault("result-value=5");
    ASSERT_TRUE(m_Table.Load({0, 1, 7}));
    StartSim();
    RunUpgrade();

    ExpectFailureRow(0, "Upgrading result of the router module is fail");
    EXPECT_EQ(Percent(0), "100%");
    ExpectUntouchedRow(1);
    ExpectUntouchedRow(3);
    EXPECT_NE(m_Log.find("TCP_GetRouterResult's ElapsedTime = "), std::string::npos);
    EXPECT_NE(m_Log.find(" ms, Result = 5\r\n"), std::string::npos);
    EXPECT_EQ(RecordsReceived(kivtest::ERASE_NVRAM_RECORD), 0);
    ExpectRunEnd(true);
    const auto outcome = m_pEngine->GetRunOutcome();
    EXPECT_TRUE(outcome.bFailed);
    EXPECT_TRUE(outcome.bShownInRow);
    EXPECT_EQ(outcome.nResultId, 122u); // "Upgrading result of the router module is fail"
}

TEST_F(Fault, RouterResultNeverArrives)
{
    AddFault("no-result");
    ASSERT_TRUE(m_Table.Load({2}));
    StartSim();
    RunUpgrade();

    ExpectFailureRow(2, "Returning the upgrading result of the router module timed out");
    // The progress followed the elapsed time and stays where the wait ended.
    const int percent = std::atoi(Percent(2).c_str());
    EXPECT_GE(percent, 90);
    EXPECT_LE(percent, 100);
    EXPECT_EQ(LogLines("Waiting for the upgrade of the router module"), 1);
    ExpectRunEnd(false);
}

TEST_F(Fault, ConnectionResetDuringRouterData)
{
    AddFault("reset-during-data=7300");
    // Large enough that the writes outlast the socket buffers and meet the reset.
    ASSERT_TRUE(m_Table.Use(1, kivtest::RouterSampleImage(1, 48u * 1024u * 1024u)));
    StartSim();
    RunUpgrade();

    ExpectFailureRow(1, "Failed to transmit upgrading data of router module");
    EXPECT_NE(m_Log.find("Router Block"), std::string::npos);
    EXPECT_NE(m_Log.find(" Transfer Fail: "), std::string::npos);
    ExpectRunEnd(false);
}

TEST_F(Fault, NvramEraseWithoutEchoEndsTheRunUnseen)
{
    AddFault("no-erase-echo");
    ASSERT_TRUE(m_Table.Load({1, 7}));
    StartSim();
    RunUpgrade();

    ExpectSuccessRow(1);
    ExpectUntouchedRow(3);
    EXPECT_EQ(RecordsReceived(kivtest::ERASE_NVRAM_RECORD), 3);
    EXPECT_EQ(LogLines("Erasing the NVRAM of the router module"), 1);
    EXPECT_EQ(LogLines("Backing up the NV"), 0);
    ExpectRunEnd(true);
    const auto outcome = m_pEngine->GetRunOutcome();
    EXPECT_TRUE(outcome.bFailed);
    EXPECT_FALSE(outcome.bShownInRow);
    EXPECT_EQ(outcome.strResultText, "Erasing the NVRAM of the router module");
    EXPECT_EQ(outcome.strFailureText,
              "Erasing the NVRAM of the router module failed: the router did not confirm the "
              "erase. Written before it: APP of router module.");
}

// Wireless module download ---------------------------------------------------------------

TEST_F(Fault, RefusedAndUnansweredBlocksAreRetried)
{
    AddFault("nak-block=2");
    AddFault("drop-block-ack=4");
    ASSERT_TRUE(m_Table.Load({7}));
    StartSim();
    RunUpgrade();

    ExpectSuccessRow(RowOf(COMPONENT_FIRMWARE));
    EXPECT_EQ(LogLines("DIAG_Write#1> Exec Fail"), 1);
    EXPECT_EQ(LogLines("DIAG_Write#1> Read Fail"), 1);
    ExpectRunEnd(true);
}

// A module that acknowledges with a bare 02 loses one answer: that block is written twice,
// the next one waits once for the answer that never comes, and every later block goes
// through at once (a lost answer is not owed for ever).
TEST_F(Fault, ALostBareAcknowledgementCostsOneWaitNotOneForEveryLaterBlock)
{
    AddFault("bare-block-ack");
    AddFault("drop-block-ack=4");
    ASSERT_TRUE(m_Table.Load({7}));
    StartSim();
    RunUpgrade();

    ExpectSuccessRow(RowOf(COMPONENT_FIRMWARE));
    size_t blocks = 0;
    for (size_t part = 0; part < m_Table[7].m_Image.GetPartCount(); ++part)
        blocks += m_Table[7].m_Image.GetHeader(part).BlockCount();
    EXPECT_EQ(Find("event", "block written").size(), blocks + 1);
    EXPECT_EQ(LogLines("DIAG_Write#1> Read Fail"), 1);
    EXPECT_EQ(LogLines("DIAG_Write#1> Ambiguous Ack Taken"), 1);
    ExpectRunEnd(true);
}

TEST_F(Fault, CorruptFrameIsReadAgain)
{
    AddFault("corrupt-fcs=1");
    ASSERT_TRUE(m_Table.Load({8}));
    StartSim();
    RunUpgrade();

    ExpectSuccessRow(RowOf(COMPONENT_DASHBOARD));
    EXPECT_GE(LogLines("Execute#1> Read Fail"), 1);
    ExpectRunEnd(true);
}

TEST_F(Fault, SilentModuleIsForcedIntoItsDownloader)
{
    AddFault("no-handshake");
    ASSERT_TRUE(m_Table.Load({7}));
    StartSim();
    RunUpgrade();

    EXPECT_EQ(LogLines("Enter Forcing Download Mode ..."), 1);
    EXPECT_EQ(LogLines("Have Enter Downloader Mode"), 1);
    EXPECT_EQ(LogLines("Sending FWT Force Pkt"), 1);
    EXPECT_EQ(LogLines("Backing up the NV"), 0);
    EXPECT_EQ(LogLines("Downloading the firmware of the wireless module"), 1);
    EXPECT_EQ(RecordsReceived(kivtest::ENTER_FORCE_LOAD_RECORD), 1);
    // Left once after the download, once at the end of the run.
    EXPECT_EQ(LogLines("Leave Forcing Download Mode ..."), 2);
    EXPECT_TRUE(m_pEngine->ForceLoadEntered());
    // Once forced, the module answers again, also after its restart.
    EXPECT_EQ(LogLines("DIAG_HandShake: Write or Read Fail"), 1);
    ExpectSuccessRow(RowOf(COMPONENT_FIRMWARE));
    ExpectRunEnd(true);
}

TEST_F(Fault, UnlockRefusedOnceThenAcceptedInForceLoad)
{
    AddFault("unlock-refused=5");
    ASSERT_TRUE(m_Table.Load({8}));
    StartSim();
    RunUpgrade();

    EXPECT_EQ(LogLines("DIAG_Unlock: Write or Read Fail"), 1);
    EXPECT_EQ(LogLines("Enter Forcing Download Mode ..."), 1);
    EXPECT_EQ(LogLines("Unlocking the wireless module"), 1);
    ExpectSuccessRow(RowOf(COMPONENT_DASHBOARD));
    ExpectRunEnd(true);
}

TEST_F(Fault, UnlockNeverAcceptedFailsTheFirmwareAndSkipsTheDashboard)
{
    AddFault("unlock-refused=100");
    ASSERT_TRUE(m_Table.Load({7, 8}));
    StartSim();
    RunUpgrade();

    ExpectFailureRow(RowOf(COMPONENT_FIRMWARE), "Unlocking the wireless module failed");
    ExpectUntouchedRow(RowOf(COMPONENT_DASHBOARD));
    EXPECT_EQ(LogLines("DIAG_Unlock: Write or Read Fail"), 2);
    ExpectRunEnd(true);
}

TEST_F(Fault, ModuleThatNeverComesBackTimesOut)
{
    AddFault("module-not-back");
    ASSERT_TRUE(m_Table.Load({8}));
    StartSim();
    RunUpgrade();

    ExpectFailureRow(RowOf(COMPONENT_DASHBOARD), "Restarting the wireless module timed out");
    EXPECT_EQ(LogLines("Waiting: First Check Fail"), 1);
    ExpectRunEnd(true);
}

TEST_F(Fault, FirmwareStillInDownloaderAfterRestart)
{
    AddFault("still-in-downloader");
    ASSERT_TRUE(m_Table.Load({7, 8}));
    StartSim();
    RunUpgrade();

    ExpectFailureRow(RowOf(COMPONENT_FIRMWARE), "Failed to check the status of automatically restoring the NV");
    EXPECT_EQ(LogLines("Still in downloader after reboot"), 1);
    ExpectUntouchedRow(RowOf(COMPONENT_DASHBOARD));
    ExpectRunEnd(true);
}

TEST_F(Fault, NvRestoreNeverConfirmed)
{
    AddFault("nv-restore-fail");
    ASSERT_TRUE(m_Table.Load({7}));
    StartSim();
    RunUpgrade();

    ExpectFailureRow(RowOf(COMPONENT_FIRMWARE), "Failed to check the status of automatically restoring the NV");
    EXPECT_EQ(LogLines("  Try1: Reading restored status ..."), 2);
    EXPECT_EQ(LogLines("  Try2: Reading restored status ..."), 2);
    const size_t first = m_Log.find("  Try1: ");
    const size_t second = m_Log.find("  Try2: ", first);
    const size_t third = m_Log.find("  Try1: ", second);
    EXPECT_NE(third, std::string::npos);
    ExpectRunEnd(true);
}

} // namespace
