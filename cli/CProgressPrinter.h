#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "engine/CListModel.h"

// Shows the upgrade's progress on standard error while the engine writes the rows. On a
// terminal: one live line per component with a bar, its percentage and its status,
// redrawn in place. Otherwise: a plain line for every new status and every tenth percent.
// Row changes arrive on the worker thread; warnings may arrive on any thread.
class CProgressPrinter {
public:
    CProgressPrinter(CListModel& list, std::FILE* out, bool terminal);

    // Starts or stops following the list's changes.
    void Start();
    void Stop();

    // Prints a warning without breaking the live lines.
    void PrintWarning(const std::string& text);

    // One live line: type, bar and percentage, status (no colour codes).
    static std::string FormatLiveLine(const CListModel::Row& row, int barWidth);
    // Percentage of a "%" column text ("42%" gives 42); -1 when there is none.
    static int ParsePercent(const std::string& text);

private:
    void OnChange(int row, int column);
    void DrawLocked(bool force);
    void ClearLocked();
    void PlainLocked(int row);

    CListModel& m_List;
    std::FILE* m_pOut;
    bool m_bTerminal;
    std::mutex m_Mutex;
    bool m_bActive = false;
    int m_nLinesDrawn = 0;
    std::chrono::steady_clock::time_point m_LastDraw{};
    std::map<int, std::string> m_LastStatus;
    std::map<int, int> m_LastTenth;
};
