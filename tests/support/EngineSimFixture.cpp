#include "tests/support/EngineSimFixture.h"

#include "tests/support/Files.h"
#include "tests/support/LogText.h"
#include "wire/UdpRecord.h"

namespace kivtest {

void EngineSimFixture::SetUp()
{
    SimFixture::SetUp();
    m_LogPath = m_Dir / "log.txt";
}

void EngineSimFixture::TearDown()
{
    if (m_Worker.joinable())
        m_Worker.join(); // a run that never ended keeps the test here, as it must
    StopSim();
    m_pEngine.reset();
    m_pSession.reset();
}

void EngineSimFixture::StartSim()
{
    SimFixture::StartSim();
    if (!HasFatalFailure())
        MakeEngine(m_pSim->RouterPort());
}

void EngineSimFixture::MakeEngine(uint16_t port)
{
    m_pEngine.reset();
    m_pSession = std::make_unique<CRouterSession>(m_LogPath);
    m_pSession->SetRouter({127, 0, 0, 1}, m_Config.mac);
    m_pSession->SetPorts(port, TELNET_PORT);
    m_pEngine = std::make_unique<CUpgradeEngine>(*m_pSession, m_Table.Get());
    m_pEngine->SetList(&m_List);
    m_pEngine->SetNotify([this](int code) {
        std::lock_guard lock(m_NotifyLock);
        m_Codes.push_back(code);
        m_NotifyCond.notify_all();
    });
    MakeRows();
}

void EngineSimFixture::MakeRows()
{
    m_List.DeleteAllItems();
    const int rows = m_pEngine->IsFamilyASelected() ? 5 : 6;
    for (int i = 0; i < rows; ++i)
        m_List.InsertItem(i, "component " + std::to_string(i));
}

void EngineSimFixture::RunUpgrade(std::chrono::seconds limit)
{
    ASSERT_TRUE(m_pEngine) << "no engine: the simulator did not start";
    StartUpgrade();
    EXPECT_TRUE(WaitUpgradeEnd(limit)) << "the upgrade did not end in time";
    EndUpgrade();
}

void EngineSimFixture::StartUpgrade()
{
    ASSERT_TRUE(m_pEngine) << "no engine: the simulator did not start";
    ASSERT_FALSE(m_Worker.joinable()) << "an upgrade runs already";
    m_Worker = std::thread(&CUpgradeEngine::UpgradeThread, m_pEngine.get());
}

bool EngineSimFixture::WaitUpgradeEnd(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_NotifyLock);
    return m_NotifyCond.wait_for(lock, limit, [this] { return !m_Codes.empty(); });
}

void EngineSimFixture::EndUpgrade()
{
    if (m_Worker.joinable())
        m_Worker.join();
    EXPECT_EQ(m_Codes, std::vector<int>{0});
    EXPECT_FALSE(m_pEngine->IsUpgrading());
    EXPECT_FALSE(m_pSession->Adapter().IsOpen());
    StopSim();
    m_Log = ReadRequiredFile(m_LogPath);
}

int EngineSimFixture::LogLines(const std::string& message) const { return CountLogMessages(m_Log, message); }

void EngineSimFixture::ExpectSuccessRow(int row) const
{
    EXPECT_EQ(Status(row).rfind("Download successfully (", 0), 0u) << "row " << row << ": " << Status(row);
    EXPECT_EQ(Colour(row), COLOUR_SUCCESS) << "row " << row;
}

void EngineSimFixture::ExpectFailureRow(int row, const std::string& text) const
{
    EXPECT_EQ(Status(row).rfind(text + " (", 0), 0u) << "row " << row << ": " << Status(row);
    EXPECT_EQ(Colour(row), COLOUR_FAILURE) << "row " << row;
}

void EngineSimFixture::ExpectUntouchedRow(int row) const
{
    EXPECT_EQ(Status(row), "") << "row " << row;
    EXPECT_EQ(Colour(row), 0u) << "row " << row;
}

void EngineSimFixture::ExpectRunEnd(bool wirelessSelected) const
{
    const std::string separator(50, '+');
    EXPECT_EQ(LogLines(separator), 1);
    const size_t end = m_Log.rfind(separator);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(m_Log.substr(end), separator + "\r\n");
    const size_t leave = m_Log.rfind("Leave Forcing Download Mode ...");
    if (wirelessSelected) {
        EXPECT_NE(leave, std::string::npos);
        EXPECT_LT(leave, end);
        EXPECT_GE(RecordsReceived(LEAVE_FORCE_LOAD_RECORD), 1);
    } else {
        EXPECT_EQ(leave, std::string::npos);
        EXPECT_EQ(RecordsReceived(LEAVE_FORCE_LOAD_RECORD), 0);
    }
    EXPECT_EQ(m_nViolations, 0u);
}

} // namespace kivtest
