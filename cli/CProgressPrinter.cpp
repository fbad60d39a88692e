#include "cli/CProgressPrinter.h"

#include <algorithm>
#include <vector>

#include "platform/TextCodec.h"

namespace {

constexpr int BAR_WIDTH = 24;
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(80);

} // namespace

CProgressPrinter::CProgressPrinter(CListModel& list, std::FILE* out, bool terminal)
    : m_List(list), m_pOut(out), m_bTerminal(terminal)
{
}

void CProgressPrinter::Start()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bActive = true;
        m_nLinesDrawn = 0;
        m_LastStatus.clear();
        m_LastTenth.clear();
    }
    m_List.SetChangeCallback([this](int row, int column) { OnChange(row, column); });
}

void CProgressPrinter::Stop()
{
    m_List.SetChangeCallback(nullptr);
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_bActive && m_bTerminal)
        DrawLocked(true);
    m_bActive = false;
    m_nLinesDrawn = 0;
}

int CProgressPrinter::ParsePercent(const std::string& text)
{
    int value = 0;
    size_t digits = 0;
    while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
        value = value * 10 + (text[digits] - '0');
        ++digits;
    }
    if (digits == 0)
        return -1;
    return std::min(value, 100);
}

std::string CProgressPrinter::FormatLiveLine(const CListModel::Row& row, int barWidth)
{
    int percent = ParsePercent(row.texts[IComponentList::COL_PERCENT]);
    int filled = percent < 0 ? 0 : percent * barWidth / 100;
    std::string line = row.texts[IComponentList::COL_TYPE];
    if (line.size() < 38)
        line.append(38 - line.size(), ' ');
    line += " [";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(barWidth - filled), '.');
    line += "] ";
    std::string pct = percent < 0 ? std::string("  ") : std::to_string(percent);
    line.append(pct.size() < 3 ? 3 - pct.size() : 0, ' ');
    line += pct;
    line += percent < 0 ? "  " : "% ";
    line += row.texts[IComponentList::COL_STATUS];
    return line;
}

void CProgressPrinter::OnChange(int row, int column)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_bActive)
        return;
    if (m_bTerminal) {
        bool important = column != IComponentList::COL_PERCENT;
        DrawLocked(important);
    } else if (row >= 0) {
        PlainLocked(row);
    }
}

void CProgressPrinter::ClearLocked()
{
    if (m_nLinesDrawn > 0)
        std::fprintf(m_pOut, "\x1b[%dA\r\x1b[J", m_nLinesDrawn);
    m_nLinesDrawn = 0;
}

void CProgressPrinter::DrawLocked(bool force)
{
    auto now = std::chrono::steady_clock::now();
    if (!force && now - m_LastDraw < REDRAW_INTERVAL)
        return;
    m_LastDraw = now;
    std::vector<CListModel::Row> rows = m_List.Snapshot();
    ClearLocked();
    for (const CListModel::Row& row : rows)
        std::fprintf(m_pOut, "\x1b[2K%s\n", FormatLiveLine(row, BAR_WIDTH).c_str());
    m_nLinesDrawn = static_cast<int>(rows.size());
    std::fflush(m_pOut);
}

void CProgressPrinter::PlainLocked(int row)
{
    std::vector<CListModel::Row> rows = m_List.Snapshot();
    if (row >= static_cast<int>(rows.size()))
        return;
    const CListModel::Row& r = rows[static_cast<size_t>(row)];
    const std::string& type = r.texts[IComponentList::COL_TYPE];
    const std::string& status = r.texts[IComponentList::COL_STATUS];
    if (!status.empty() && m_LastStatus[row] != status) {
        m_LastStatus[row] = status;
        std::fprintf(m_pOut, "%s: %s\n", type.c_str(), status.c_str());
    }
    int percent = ParsePercent(r.texts[IComponentList::COL_PERCENT]);
    if (percent >= 0) {
        int tenth = percent / 10;
        auto it = m_LastTenth.find(row);
        if (it == m_LastTenth.end() || it->second != tenth) {
            m_LastTenth[row] = tenth;
            std::fprintf(m_pOut, "%s: %d%%\n", type.c_str(), percent);
        }
    }
    std::fflush(m_pOut);
}

void CProgressPrinter::PrintWarning(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    bool redraw = m_bActive && m_bTerminal && m_nLinesDrawn > 0;
    if (redraw)
        ClearLocked();
    std::fprintf(m_pOut, "Warning: %s\n", MakePrintable(text, true).c_str());
    if (redraw)
        DrawLocked(true);
    std::fflush(m_pOut);
}
