#pragma once

// Runs the virtual router in-process on 127.0.0.1 with ports of its own choosing.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Clock.h"
#include "platform/UserFiles.h"
#include "sim/CRouterSim.h"

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetTimeScale() > 0.05)
            SetTimeScale(0.05);
        static int s_Counter = 0;
        m_Stem = GetTempDirectory() + "kiv-sim-test-" + std::to_string(::getpid()) + "-" + std::to_string(++s_Counter);
        m_Config.routerPort = 0;
        m_Config.telnetPort = 0;
        m_Config.transcriptPath = m_Stem + "-transcript.jsonl";
        m_Config.restartTimeMs = 6000;
        m_Config.flashTimeMs = 1000;
    }

    void TearDown() override
    {
        StopSim();
        std::remove(m_Config.transcriptPath.c_str());
        std::remove(LogPath().c_str());
    }

    void AddFault(const std::string& spec)
    {
        std::string error;
        ASSERT_TRUE(m_Config.faults.Add(spec, error)) << error;
    }

    void StartSim()
    {
        m_pSim.reset(); // frees the old ports first
        m_pSim = std::make_unique<CRouterSim>(m_Config);
        std::string error;
        ASSERT_TRUE(m_pSim->Open(error)) << error;
        ASSERT_TRUE(m_pSim->Start());
    }

    void StopSim()
    {
        if (m_pSim)
            m_pSim->Stop();
    }

    std::string LogPath() const { return m_Stem + "-log.txt"; }

    // The transcript records so far (the simulator flushes every line).
    std::vector<nlohmann::json> Transcript() const
    {
        std::vector<nlohmann::json> records;
        std::ifstream in(m_Config.transcriptPath);
        std::string line;
        while (std::getline(in, line))
            records.push_back(nlohmann::json::parse(line));
        return records;
    }

    // Records whose `key` equals `value`.
    std::vector<nlohmann::json> Find(const std::string& key, const std::string& value) const
    {
        std::vector<nlohmann::json> found;
        for (auto& record : Transcript())
            if (record.contains(key) && record[key].is_string() && record[key] == value)
                found.push_back(record);
        return found;
    }

    const uint8_t kLoopback[4] = {127, 0, 0, 1};
    CSimConfig m_Config;
    std::unique_ptr<CRouterSim> m_pSim;
    std::string m_Stem;
};
