#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/CListModel.h"
#include "engine/CRouterSession.h"
#include "engine/CUpgradeEngine.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TestComponentTable.h"

namespace kivtest {

// Row colours as the list shows them (0x00BBGGRR): blue for success, red for failure.
constexpr uint32_t COLOUR_SUCCESS = 0xFF0000;
constexpr uint32_t COLOUR_FAILURE = 0x0000FF;

// The upgrade engine run against the in-process virtual router: the component table, the
// list rows a check leaves, one upgrade on a worker thread, and the engine's own face (rows,
// colours, log lines, run outcome) to check.
class EngineSimFixture : public SimFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator and makes an engine pointed at it.
    void StartSim();
    // An engine for a router on 127.0.0.1 at `port`, with the rows of the family selected.
    void MakeEngine(uint16_t port);
    // The rows the check leaves: family A (5 rows) or family B (6 rows).
    void MakeRows();
    int RowOf(int component) const { return m_pEngine->RowForComponent(component); }

    // Runs one upgrade on a worker thread and waits for its end notification; then stops
    // the simulator and reads the log.
    void RunUpgrade(std::chrono::seconds limit = std::chrono::seconds(120));
    // The same in three steps, for a caller that decides itself what a run too long means:
    // start the worker; wait up to `limit` for the end notification (false when it did not
    // come); join the worker (this waits as long as the run goes on), stop the simulator and
    // read the log.
    void StartUpgrade();
    bool WaitUpgradeEnd(std::chrono::milliseconds limit);
    void EndUpgrade();

    // Log lines whose message is exactly `message`.
    int LogLines(const std::string& message) const;

    std::string Status(int row) const { return m_List.GetItemText(row, IComponentList::COL_STATUS); }
    std::string Percent(int row) const { return m_List.GetItemText(row, IComponentList::COL_PERCENT); }
    uint32_t Colour(int row) const { return m_List.GetItemData(row); }

    void ExpectSuccessRow(int row) const;
    void ExpectFailureRow(int row, const std::string& text) const;
    void ExpectUntouchedRow(int row) const;
    // Every run ends the same way: separator last, log flushed, force-load left when a
    // wireless image was selected, no protocol violation.
    void ExpectRunEnd(bool wirelessSelected) const;

    TestComponentTable m_Table;
    CListModel m_List;
    std::unique_ptr<CRouterSession> m_pSession; // the router, channel and log of m_pEngine
    std::unique_ptr<CUpgradeEngine> m_pEngine;
    std::string m_LogPath;
    std::string m_Log;

    std::thread m_Worker;
    std::mutex m_NotifyLock;
    std::condition_variable m_NotifyCond;
    std::vector<int> m_Codes;
};

} // namespace kivtest
