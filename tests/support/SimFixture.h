#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/CRouterSim.h"
#include "sim/CSimConfig.h"
#include "tests/support/TempDir.h"

namespace kivtest {

// The records of a JSON-lines text (a simulator transcript); a line that is no JSON is a
// test failure and is left out.
std::vector<nlohmann::json> ParseJsonLines(const std::string& text);

// Router control record types as they travel in byte 0 of a record, written here from the
// protocol rather than taken from the product, so that a changed constant shows.
constexpr int DISCOVERY_RECORD = 1;
constexpr int ERASE_NVRAM_RECORD = 6;
constexpr int ENTER_FORCE_LOAD_RECORD = 7;
constexpr int LEAVE_FORCE_LOAD_RECORD = 8;
constexpr int READY_PROBE_RECORD = 10;

// The virtual router run in-process on 127.0.0.1 with ports of its own choosing, its
// transcript in the test's own directory. Set m_Config (and AddFault) before StartSim.
class SimFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void AddFault(const std::string& spec);
    // Starts a simulator with m_Config; a running one is stopped first (its ports freed).
    void StartSim();
    // Stops and removes the simulator; m_nViolations keeps its count of protocol violations.
    void StopSim();

    // The transcript records so far (the simulator flushes every line).
    std::vector<nlohmann::json> Transcript() const;
    // Records whose `key` is the string `value`.
    std::vector<nlohmann::json> Find(const std::string& key, const std::string& value) const;
    // UDP control records of `type` the router received; every UDP record it received.
    int RecordsReceived(int type) const;
    int UdpRecordsReceived() const;

    TempDir m_Dir{"kiv-sim"};
    CSimConfig m_Config;
    std::unique_ptr<CRouterSim> m_pSim;
    uint32_t m_nViolations = 0;
};

} // namespace kivtest
