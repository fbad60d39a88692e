#pragma once

// Runs the upgrade engine against the virtual router on 127.0.0.1, in-process.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "diag/UdpRecord.h"
#include "engine/CListModel.h"
#include "engine/CUpgradeEngine.h"
#include "platform/Clock.h"
#include "platform/UserFiles.h"
#include "sim/CRouterSim.h"
#include "tests/engine/EngineTestSupport.h"

class EngineSimFixture : public ::testing::Test {
protected:
    static constexpr double kTimeScale = 0.05;

    void SetUp() override
    {
        if (GetTimeScale() > kTimeScale)
            SetTimeScale(kTimeScale);
        static int s_Counter = 0;
        const std::string stem = GetTempDirectory() + "kiv-engine-e2e-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(++s_Counter);
        m_LogPath = stem + "-log.txt";
        m_TranscriptPath = stem + "-transcript.jsonl";
        m_Config.address = "127.0.0.1";
        m_Config.routerPort = 0;
        m_Config.telnetPort = 0;
        m_Config.transcriptPath = m_TranscriptPath;
    }

    void TearDown() override
    {
        StopSim();
        m_pEngine.reset();
        std::remove(m_LogPath.c_str());
        std::remove(m_TranscriptPath.c_str());
    }

    void AddFault(const std::string& spec)
    {
        std::string error;
        ASSERT_TRUE(m_Config.faults.Add(spec, error)) << error;
    }

    // Starts the simulator and makes an engine pointed at it.
    void StartSim()
    {
        m_pSim = std::make_unique<CRouterSim>(m_Config);
        std::string error;
        ASSERT_TRUE(m_pSim->Open(error)) << error;
        ASSERT_TRUE(m_pSim->Start());
        MakeEngine(m_pSim->RouterPort());
    }

    void MakeEngine(uint16_t port)
    {
        m_pEngine = std::make_unique<CUpgradeEngine>(m_Table.Get(), m_LogPath);
        m_pEngine->m_pList = &m_List;
        m_pEngine->m_RouterIp = {127, 0, 0, 1};
        m_pEngine->m_RouterMac = m_Config.mac;
        m_pEngine->m_nRouterPort = port;
        m_pEngine->m_Notify = [this](int code) {
            std::lock_guard lock(m_NotifyLock);
            m_Codes.push_back(code);
            m_NotifyCond.notify_all();
        };
        MakeRows();
    }

    void StopSim()
    {
        if (m_pSim) {
            m_nViolations = m_pSim->ViolationCount();
            m_pSim->Stop();
            m_pSim.reset();
        }
    }

    // The rows the check leaves: family A (5 rows) or family B (6 rows).
    void MakeRows()
    {
        m_List.DeleteAllItems();
        const int rows = m_pEngine->IsFamilyASelected() ? 5 : 6;
        for (int i = 0; i < rows; ++i)
            m_List.InsertItem(i, "component " + std::to_string(i));
    }

    int RowOf(int component) const { return m_pEngine->RowForComponent(component); }

    // Runs one upgrade on a worker thread and waits for its end notification.
    void RunUpgrade(std::chrono::seconds limit = std::chrono::seconds(120))
    {
        std::thread worker(&CUpgradeEngine::UpgradeThread, m_pEngine.get());
        {
            std::unique_lock lock(m_NotifyLock);
            const bool ended = m_NotifyCond.wait_for(lock, limit, [this] { return !m_Codes.empty(); });
            EXPECT_TRUE(ended) << "the upgrade did not end in time";
        }
        worker.join();
        EXPECT_EQ(m_Codes, std::vector<int>{0});
        EXPECT_EQ(m_pEngine->m_Busy.load(), 0);
        EXPECT_FALSE(m_pEngine->m_Adapter.IsOpen());
        StopSim();
        m_Log = ReadFile(m_LogPath);
        m_Transcript = ReadTranscript();
    }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::vector<nlohmann::json> ReadTranscript() const
    {
        std::vector<nlohmann::json> records;
        std::ifstream in(m_TranscriptPath);
        std::string line;
        while (std::getline(in, line)) {
            auto record = nlohmann::json::parse(line, nullptr, false);
            if (!record.is_discarded())
                records.push_back(std::move(record));
        }
        return records;
    }

    // Control records of `type` the router received.
    int RecordsReceived(int type) const
    {
        int count = 0;
        for (const auto& r : m_Transcript) {
            if (r.value("proto", "") == "udp" && r.value("dir", "") == "in" && r.value("kind", "") == "record" &&
                r.value("type", -1) == type)
                ++count;
        }
        return count;
    }

    int UdpRecordsReceived() const
    {
        int count = 0;
        for (const auto& r : m_Transcript)
            count += r.value("proto", "") == "udp" && r.value("dir", "") == "in";
        return count;
    }

    // Number of log lines whose message is exactly `message`.
    int LogLines(const std::string& message) const
    {
        int count = 0;
        std::istringstream in(m_Log);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            // "YYYY-MM-DD HH:MM:SS " then the message.
            if (line.size() >= 20 && line.compare(20, std::string::npos, message) == 0)
                ++count;
        }
        return count;
    }

    bool LogContains(const std::string& text) const { return m_Log.find(text) != std::string::npos; }

    std::string Status(int row) const { return m_List.GetItemText(row, IComponentList::COL_STATUS); }
    std::string Percent(int row) const { return m_List.GetItemText(row, IComponentList::COL_PERCENT); }
    uint32_t Colour(int row) const { return m_List.GetItemData(row); }

    void ExpectSuccessRow(int row) const
    {
        EXPECT_EQ(Status(row).rfind("Download successfully (", 0), 0u) << "row " << row << ": " << Status(row);
        EXPECT_EQ(Colour(row), CUpgradeEngine::COLOUR_SUCCESS) << "row " << row;
    }

    void ExpectFailureRow(int row, const std::string& text) const
    {
        EXPECT_EQ(Status(row).rfind(text + " (", 0), 0u) << "row " << row << ": " << Status(row);
        EXPECT_EQ(Colour(row), CUpgradeEngine::COLOUR_FAILURE) << "row " << row;
    }

    void ExpectUntouchedRow(int row) const
    {
        EXPECT_EQ(Status(row), "") << "row " << row;
        EXPECT_EQ(Colour(row), 0u) << "row " << row;
    }

    // Every run ends the same way: separator last, log flushed, channel closed.
    void ExpectRunEnd(bool wirelessSelected) const
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
            EXPECT_GE(RecordsReceived(UDP_LEAVE_FORCE_LOAD), 1);
        } else {
            EXPECT_EQ(leave, std::string::npos);
            EXPECT_EQ(RecordsReceived(UDP_LEAVE_FORCE_LOAD), 0);
        }
        EXPECT_EQ(m_nViolations, 0u);
    }

    CSimConfig m_Config;
    std::unique_ptr<CRouterSim> m_pSim;
    TestComponentTable m_Table;
    CListModel m_List;
    std::unique_ptr<CUpgradeEngine> m_pEngine;
    std::string m_LogPath;
    std::string m_TranscriptPath;
    std::string m_Log;
    std::vector<nlohmann::json> m_Transcript;
    uint32_t m_nViolations = 0;

    std::mutex m_NotifyLock;
    std::condition_variable m_NotifyCond;
    std::vector<int> m_Codes;
};
