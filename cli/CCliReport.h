#pragma once

#include <string>
#include <vector>

#include "app/CKivOneClickDlg.h"
#include "engine/CListModel.h"

// What one run of the command line found and did, and its two renderings: the final table
// for people and one JSON document for programs.
class CCliReport {
public:
    std::string m_strCommand;            // "check" or "upgrade"
    std::vector<CListModel::Row> m_Rows; // the component list at the end
    bool m_bCheckPassed = false;
    bool m_bUpgradeRan = false;
    bool m_bUpgradeFailed = false;
    std::string m_strUpgradeResult; // result text of a failed run
    bool m_bInterrupted = false;
    std::string m_strReason; // why the run failed (empty on success)
    std::vector<std::string> m_Warnings;
    std::vector<RejectedImage> m_RejectedImages; // images found but not used
    std::vector<CheckRow> m_CheckRows;           // what the check found, row by row (list order)
    std::string m_strUpToDate;                   // the line about rows already up to date
    std::vector<std::string> m_VersionWarnings;  // rows whose version was not read
    std::string m_strHint;                       // advice given with "No router is detected", one line each
    std::string m_strRouterIp;                   // empty when no router was found
    std::string m_strRouterMac;
    std::string m_strLogPath;
    std::string m_strLogError;                    // why the log is not written (empty when it is)
    bool m_bImagesEmbedded = false;               // the images are the program's own
    std::vector<std::string> m_ImageDirsSearched; // "*.bin" search, in order
    std::string m_strImageDir;                    // where the images came from (empty: none found)
    int m_nExitCode = 1;

    // The component list as an aligned text table, one line per row after a header. Cells
    // are made printable: no text from a router or an image reaches a terminal raw.
    std::string FormatTable() const;
    // The hint's lines, each indented, for under the result (empty when there is none).
    std::string FormatHint() const;
    // The lines under the table: rows already up to date, versions not read.
    std::string FormatSummary() const;
    // "Firmware of wireless module (part 2 block 3: checksum mismatch)" for every row whose
    // image is damaged, joined by "; " (empty when none is).
    std::string DamagedImages() const;
    // One line saying where the images came from, or which directories held none.
    std::string FormatImageSource() const;
    // The whole report as one JSON document (no trailing newline).
    std::string FormatJson() const;

    // m_strHint cut into its lines.
    std::vector<std::string> HintLines() const;
    // "blue", "red", "black" or "grey" for a row colour.
    static const char* ColourName(uint32_t colour);
};
