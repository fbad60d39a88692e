#include "cli/CCliReport.h"

#include <algorithm>
#include <array>

#include <nlohmann/json.hpp>

#include "app/CKivOneClickDlg.h"
#include "engine/IComponentList.h"
#include "platform/TextCodec.h"
#include "res/Resources.h"

namespace {

// Number of characters of a UTF-8 text (continuation bytes do not count).
size_t TextWidth(const std::string& text)
{
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void AppendPadded(std::string& out, const std::string& text, size_t width)
{
    out += text;
    size_t w = TextWidth(text);
    if (w < width)
        out.append(width - w, ' ');
}

} // namespace

const char* CCliReport::ColourName(uint32_t colour)
{
    switch (colour) {
    case 0xFF0000: return "blue";
    case 0x0000FF: return "red";
    case 0: return "black";
    default: return "grey";
    }
}

std::string CCliReport::FormatTable() const
{
    // Column headers from the string table, as the window shows them.
    std::array<std::string, IComponentList::COLUMN_COUNT> headers;
    for (size_t c = 0; c < headers.size(); ++c)
        headers[c] = LoadStringResource(CKivOneClickDlg::COLUMNS[c].headerId);
    std::array<size_t, IComponentList::COLUMN_COUNT> widths{};
    for (size_t c = 0; c < headers.size(); ++c)
        widths[c] = TextWidth(headers[c]);
    std::vector<CListModel::Row> rows = m_Rows;
    for (CListModel::Row& row : rows) {
        for (size_t c = 0; c < row.texts.size(); ++c) {
            row.texts[c] = MakePrintable(row.texts[c]);
            widths[c] = std::max(widths[c], TextWidth(row.texts[c]));
        }
    }
    auto line = [&](const auto& cells) {
        std::string out;
        for (size_t c = 0; c < cells.size(); ++c) {
            if (c + 1 < cells.size()) {
                AppendPadded(out, cells[c], widths[c]);
                out += "  ";
            } else {
                out += cells[c];
            }
        }
        return out + "\n";
    };
    std::string table = line(headers);
    for (const CListModel::Row& row : rows)
        table += line(row.texts);
    return table;
}

std::vector<std::string> CCliReport::HintLines() const
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < m_strHint.size()) {
        size_t end = m_strHint.find('\n', start);
        if (end == std::string::npos)
            end = m_strHint.size();
        lines.push_back(m_strHint.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string CCliReport::FormatHint() const
{
    std::string out;
    for (const std::string& line : HintLines())
        out += "  " + line + "\n";
    return out;
}

std::string CCliReport::FormatSummary() const
{
    std::string out;
    if (!m_strUpToDate.empty())
        out += m_strUpToDate + "\n";
    for (const std::string& warning : m_VersionWarnings)
        out += warning + "\n";
    return MakePrintable(out, true);
}

std::string CCliReport::DamagedImages() const
{
    std::string damaged;
    for (size_t i = 0; i < m_CheckRows.size() && i < m_Rows.size(); ++i) {
        if (!m_CheckRows[i].imageProblem.empty())
            damaged += (damaged.empty() ? "" : "; ") + m_Rows[i].texts[IComponentList::COL_TYPE] + " (" +
                       m_CheckRows[i].imageProblem + ")";
    }
    return damaged;
}

std::string CCliReport::FormatImageSource() const
{
    if (m_bImagesEmbedded)
        return "Images: carried by the program";
    if (!m_strImageDir.empty())
        return "Images: " + m_strImageDir;
    if (m_ImageDirsSearched.empty())
        return std::string();
    std::string searched;
    for (const std::string& dir : m_ImageDirsSearched)
        searched += (searched.empty() ? "" : ", ") + dir;
    return "Images: no usable *.bin file in " + searched;
}

std::string CCliReport::FormatJson() const
{
    auto textOrNull = [](const std::string& text) {
        return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
    };
    nlohmann::json rows = nlohmann::json::array();
    for (size_t i = 0; i < m_Rows.size(); ++i) {
        const CListModel::Row& row = m_Rows[i];
        nlohmann::json out = {
            {"type", row.texts[IComponentList::COL_TYPE]},
            {"currentVersion", row.texts[IComponentList::COL_CURRENT]},
            {"upgradeVersion", row.texts[IComponentList::COL_UPGRADE]},
            {"percent", row.texts[IComponentList::COL_PERCENT]},
            {"status", row.texts[IComponentList::COL_STATUS]},
            {"colour", row.colour},
            {"colourName", ColourName(row.colour)},
        };
        if (i < m_CheckRows.size()) {
            const CheckRow& found = m_CheckRows[i];
            out["upToDate"] = found.upToDate;
            out["versionRead"] = found.versionRead;
            out["versionProblem"] = textOrNull(found.versionProblem);
            out["imageDamaged"] = textOrNull(found.imageProblem);
        }
        rows.push_back(std::move(out));
    }
    nlohmann::json rejected = nlohmann::json::array();
    for (const RejectedImage& image : m_RejectedImages)
        rejected.push_back(
            {{"file", image.name}, {"reason", image.reason}, {"damaged", image.component < COMPONENT_COUNT}});
    nlohmann::json doc = {
        {"command", m_strCommand},
        {"result", m_nExitCode == 0 ? "success" : "failure"},
        {"exitCode", m_nExitCode},
        {"checkPassed", m_bCheckPassed},
        {"upgradeRan", m_bUpgradeRan},
        {"upgradeFailed", m_bUpgradeFailed},
        {"upgradeResult", m_strUpgradeResult},
        {"interrupted", m_bInterrupted},
        {"reason", m_strReason},
        {"router", m_strRouterIp.empty() ? nlohmann::json(nullptr)
                                         : nlohmann::json{{"ip", m_strRouterIp}, {"mac", m_strRouterMac}}},
        {"rows", rows},
        {"warnings", m_Warnings},
        {"hint", HintLines()},
        {"rejectedImages", rejected},
        {"upToDate", textOrNull(m_strUpToDate)},
        {"versionWarnings", m_VersionWarnings},
        {"log", m_strLogPath},
        {"logError", m_strLogError.empty() ? nlohmann::json(nullptr) : nlohmann::json(m_strLogError)},
        {"images", {{"embedded", m_bImagesEmbedded}, {"directory", m_strImageDir}, {"searched", m_ImageDirsSearched}}},
    };
    // Texts from a peer may hold invalid UTF-8: replace it rather than fail.
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
