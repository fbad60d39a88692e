// Whole upgrade runs against the virtual router, with and without its faults.
#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "tests/support/EngineSimFixture.h"
#include "tests/support/Files.h"
#include "tests/support/ImageParts.h"
#include "tests/support/ScopedTimeScale.h"
#include "tests/support/SilentPort.h"
#include "tests/support/TestImages.h"

namespace {

using Upgrade = kivtest::EngineSimFixture;

const char* const MAC_LINE = "02-4B-49-56-00-01";

TEST_F(Upgrade, FamilyAWithFirmwareAndDashboard)
{
    ASSERT_TRUE(m_Table.Load({0, 1, 2, 7, 8}));
    StartSim();
    RunUpgrade();

    for (int row = 0; row < 5; ++row) {
        ExpectSuccessRow(row);
        EXPECT_EQ(Percent(row), "100%") << row;
    }
    EXPECT_EQ(LogLines(MAC_LINE), 1);
    EXPECT_EQ(m_Log.find(MAC_LINE), 20u);
    EXPECT_EQ(LogLines("Sending RUT Begin Pkt"), 3);
    EXPECT_EQ(LogLines("Erasing the NVRAM of the router module"), 1);
    EXPECT_EQ(LogLines("Backing up the NV"), 1);
    EXPECT_EQ(LogLines("Sending FWT Begin Pkt"), 2);
    EXPECT_EQ(LogLines("Downloading the firmware of the wireless module"), 1);
    EXPECT_EQ(LogLines("Downloading the dashboard of the wireless module"), 1);
    EXPECT_EQ(LogLines("Check the status of automatically restoring the NV"), 1);
    EXPECT_EQ(RecordsReceived(kivtest::ERASE_NVRAM_RECORD), 1);
    EXPECT_EQ(RecordsReceived(kivtest::ENTER_FORCE_LOAD_RECORD), 0);
    ExpectRunEnd(true);
    const auto outcome = m_pEngine->GetRunOutcome();
    EXPECT_FALSE(outcome.bFailed);
    EXPECT_EQ(outcome.nResultId, 103u); // "Download successfully"
}

// The golden firmware written by hand (fuzz/seeds/image_parser/wireless_addressed.bin) has
// its parts at 0x01A2B3C4 and 0x02C4E608: each block write names its address most
// significant byte first, and the module ends up holding each part at its address.
TEST_F(Upgrade, HandWrittenFirmwarePartsGoToTheirTargetAddresses)
{
    const std::string file = kivtest::ReadRequiredFile(KIV_IMAGE_SEED_DIR "/wireless_addressed.bin");
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    ASSERT_TRUE(m_Table.Use(COMPONENT_FIRMWARE, bytes));
    m_Config.unlockCodes.resize(1);
    ASSERT_TRUE(CSimConfig::ParseUnlockCode("00000000", m_Config.unlockCodes[0]));
    StartSim();
    RunUpgrade();

    ExpectSuccessRow(RowOf(COMPONENT_FIRMWARE));
    std::vector<std::string> writes; // request code, address, length
    for (const auto& r : Find("request", "block-write"))
        writes.push_back(r["hex"].get<std::string>().substr(0, 20));
    EXPECT_EQ(writes, (std::vector<std::string>{"0F 01 A2 B3 C4 02 58", "0F 02 C4 E6 08 00 2D"}));
    const auto complete = Find("event", "image complete");
    ASSERT_EQ(complete.size(), 1u);
    const std::vector<kivtest::MemoryExtent> extents = kivtest::ExtentsOf(kivtest::ImagePartsOf(bytes));
    ASSERT_EQ(complete[0]["extents"].size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(complete[0]["extents"][i]["address"], extents[i].address);
        EXPECT_EQ(complete[0]["extents"][i]["length"], extents[i].length);
        EXPECT_EQ(complete[0]["extents"][i]["digest"], extents[i].digest);
    }
    EXPECT_EQ(extents[0].address, 0x01A2B3C4u);
    ExpectRunEnd(true);
}

TEST_F(Upgrade, FamilyBWithFirmwareAndDashboard)
{
    m_Config.family = 'B';
    ASSERT_TRUE(m_Table.Load({3, 4, 5, 6, 7, 8}));
    StartSim();
    RunUpgrade();

    for (int row = 0; row < 6; ++row)
        ExpectSuccessRow(row);
    EXPECT_EQ(LogLines("Sending RUT Begin Pkt"), 4);
    EXPECT_EQ(RecordsReceived(kivtest::ERASE_NVRAM_RECORD), 1);
    ExpectRunEnd(true);
    EXPECT_FALSE(m_pEngine->GetRunOutcome().bFailed);
}

TEST_F(Upgrade, FamilyBImagesAreNotSentToAFamilyARouter)
{
    ASSERT_TRUE(m_Table.Load({0, 1, 2, 3, 4, 5, 6}));
    StartSim();
    RunUpgrade();

    for (int row = 0; row < 3; ++row)
        ExpectSuccessRow(row);
    ExpectUntouchedRow(3);
    ExpectUntouchedRow(4);
    EXPECT_EQ(LogLines("Sending RUT Begin Pkt"), 3);
    ExpectRunEnd(false);
}

TEST_F(Upgrade, NothingSelected)
{
    ASSERT_TRUE(m_Table.Load({0, 7}));
    m_Table[0].m_UpgradeFlag = 0;
    m_Table[7].m_UpgradeFlag = 0;
    StartSim();
    RunUpgrade();

    for (int row = 0; row < 5; ++row) {
        ExpectUntouchedRow(row);
        EXPECT_EQ(Percent(row), "");
    }
    EXPECT_EQ(LogLines(MAC_LINE), 1);
    EXPECT_EQ(UdpRecordsReceived(), 0);
    ExpectRunEnd(false);
    EXPECT_FALSE(m_pEngine->GetRunOutcome().bFailed);
}

TEST_F(Upgrade, OnlyBootErasesNothing)
{
    ASSERT_TRUE(m_Table.Load({0}));
    StartSim();
    RunUpgrade();

    ExpectSuccessRow(0);
    EXPECT_EQ(RecordsReceived(kivtest::ERASE_NVRAM_RECORD), 0);
    EXPECT_EQ(LogLines("Erasing the NVRAM of the router module"), 0);
    ExpectRunEnd(false);
}

TEST_F(Upgrade, ResultPacketRightAfterTheDataIsNotMissed)
{
    m_Config.flashTimeMs = 0;
    ASSERT_TRUE(m_Table.Load({0, 2}));
    StartSim();
    RunUpgrade();

    ExpectSuccessRow(0);
    ExpectSuccessRow(2);
    ExpectRunEnd(false);
}

TEST_F(Upgrade, OnlyWirelessImagesUseTheFamilyBRows)
{
    ASSERT_TRUE(m_Table.Load({7, 8}));
    StartSim();
    RunUpgrade();

    ExpectSuccessRow(4);
    ExpectSuccessRow(5);
    for (int row = 0; row < 4; ++row)
        ExpectUntouchedRow(row);
    EXPECT_EQ(RecordsReceived(kivtest::ERASE_NVRAM_RECORD), 0);
    ExpectRunEnd(true);
}

TEST_F(Upgrade, ProgressOfARouterImageAbove42949673BytesClimbsToOneHundred)
{
    // 43 MB go out as fast as the simulator in this process takes them: each chunk's write
    // time-out must outlast a descheduled simulator thread on a loaded machine (at 0.05 it
    // would be 150 ms of real time; under the thread sanitizer that is not always enough).
    kivtest::ScopedTimeScale scale(std::max(GetTimeScale(), 0.25));
    // bytes sent x 100 leaves 32 bits from 42,949,673 bytes on.
    ASSERT_TRUE(m_Table.Use(1, kivtest::RouterSampleImage(1, 43u * 1000u * 1000u)));
    StartSim();
    std::mutex lock;
    std::vector<int> percents;
    m_List.SetChangeCallback([&](int row, int column) {
        if (row == 1 && column == IComponentList::COL_PERCENT) {
            std::lock_guard guard(lock);
            percents.push_back(std::atoi(m_List.GetItemText(1, IComponentList::COL_PERCENT).c_str()));
        }
    });
    RunUpgrade();
    m_List.SetChangeCallback(nullptr);

    ASSERT_FALSE(percents.empty());
    // The transfer climbs from 0 to 100 without a step back; the wait for the result
    // starts again at 0 and the result ends at 100.
    size_t i = 0;
    while (i + 1 < percents.size() && percents[i] < 100) {
        EXPECT_LT(percents[i], percents[i + 1]) << "after " << i << " steps";
        ++i;
    }
    EXPECT_EQ(percents[i], 100) << "the transfer never showed 100%";
    EXPECT_GE(i, 99u) << "every percent of the transfer is shown";
    EXPECT_EQ(percents.back(), 100);
    ExpectSuccessRow(1);
    ExpectRunEnd(false);
}

TEST_F(Upgrade, ChannelThatCannotOpenStillTellsTheOutcome)
{
    ASSERT_TRUE(m_Table.Load({1, 8}));
    // No router: nothing listens on this port.
    kivtest::SilentPort nobody;
    MakeEngine(nobody.Port());
    RunUpgrade();

    for (int row = 0; row < 5; ++row)
        ExpectUntouchedRow(row);
    EXPECT_EQ(LogLines(MAC_LINE), 1);
    EXPECT_EQ(LogLines("Leave Forcing Download Mode ..."), 1);
    EXPECT_EQ(LogLines(std::string(50, '+')), 1);
    const auto outcome = m_pEngine->GetRunOutcome();
    EXPECT_TRUE(outcome.bFailed);
    EXPECT_FALSE(outcome.bShownInRow);
    EXPECT_EQ(outcome.nResultId, 119u);
    EXPECT_EQ(outcome.strResultText, "Creating the TCP connection failed");
    EXPECT_EQ(outcome.strFailureText, "Creating the TCP connection failed. Nothing had been written.");
}

TEST_F(Upgrade, PendingHandShakeFailureDoesNotHideASuccess)
{
    CRouterSession session{std::string()};
    CUpgradeEngine engine(session, m_Table.Get());
    engine.SetList(&m_List);
    for (int i = 0; i < 5; ++i)
        m_List.InsertItem(i, "component");
    engine.SetRow(3);
    engine.SetStepStart(std::time(nullptr));
    engine.SetResultId(CUpgradeEngine::IDS_HANDSHAKE_FAILED);
    EXPECT_TRUE(engine.ShowStepResult(true));
    EXPECT_EQ(Status(3), "Download successfully (00:00)");
    engine.SetResultId(CUpgradeEngine::IDS_HANDSHAKE_FAILED);
    EXPECT_FALSE(engine.ShowStepResult(false));
    EXPECT_EQ(Status(3), "Handshake failed (00:00)");
}

} // namespace
