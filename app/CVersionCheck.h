#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include <vector>

#include "app/CRouterFinder.h"
#include "app/CheckRow.h"
#include "app/RouterOverrides.h"
#include "engine/ComponentEntry.h"

class CTelnetClient;
class CRouterSession;
class IComponentList;

// The "&Check" job: finds the router by broadcast discovery, reads the router-module
// versions over Telnet and the wireless-module versions over the DIAG channel, compares
// them with the image versions and fills the component list. Runs on the check worker;
// the table, the router session and the Telnet client are used by no other thread meanwhile.
class CVersionCheck {
public:
    // String-table ids used by the check.
    static constexpr uint32_t IDS_TCP_CONNECT_FAILED = 119;
    static constexpr uint32_t IDS_NO_ROUTER = 137;
    static constexpr uint32_t IDS_VERSION_MISMATCH = 153;
    static constexpr uint32_t IDS_WAITING_UPGRADE = 155;
    static constexpr uint32_t IDS_NOT_FOUND = 158;

    // Row colours (0x00BBGGRR): will be upgraded, mismatch, no image (grey text).
    static constexpr uint32_t COLOUR_UPGRADE = 0xFF0000;
    static constexpr uint32_t COLOUR_MISMATCH = 0x0000FF;
    static constexpr uint32_t COLOUR_GREY_TEXT = 0x808080;

    // Row statuses beyond the string table's: an image that is damaged, a version that
    // could not be read, a component already at its image's version.
    static constexpr const char* IMAGE_DAMAGED_PREFIX = "Image damaged: ";
    static constexpr const char* VERSION_NOT_READ_PREFIX = "Version not read: ";
    static constexpr const char* UP_TO_DATE = "Up to date";

    static constexpr int DISCOVERY_TRIES_PER_TARGET = CRouterFinder::TRIES_PER_TARGET;
    static constexpr uint32_t DISCOVERY_RETRY_PAUSE_MS = CRouterFinder::RETRY_PAUSE_MS;
    static constexpr uint32_t TELNET_WAIT_MS = 500;
    static constexpr const char* FORCE_LOAD_TEXT = "Can't read in force-load mode";

    // What the check needs from the dialog.
    struct Hooks {
        std::function<int(uint32_t stringId)> showWarning; // modal warning box
        // The same box with lines of advice below the text (falls back to showWarning).
        std::function<int(uint32_t stringId, const std::string& hint)> showWarningWithHint;
        std::function<bool()> findImageFiles; // the .bin search
        std::function<void()> relayout;       // layout and repaint
        std::function<bool()> stopRequested;  // end the check early
        const CWsaEvent* stopEvent = nullptr; // set once a stop is requested: ends a discovery wait
    };

    CVersionCheck(ComponentEntry* table, CRouterSession& session, CTelnetClient& telnet, IComponentList* list,
                  const RouterOverrides& overrides, bool embeddedImages, Hooks hooks);

    // The whole check. True when every component that has an image may be upgraded.
    bool CheckVersions();
    // One discovery try to `target`; fills the session's router and `versionText`.
    bool DiscoverRouter(const std::array<uint8_t, 4>& target, std::string& versionText);
    // Logs in on the Telnet client; `prompt` is the family's (TelnetDialogue::PROMPT_FAMILY_A or _B).
    bool TelnetLogin(const std::string& prompt);
    // Fills the current versions of entries 0 to 6; `fallback` replaces what cannot be read.
    void ReadRouterVersions(const std::string& fallback);
    // Fills the current versions of entries 7 and 8.
    void ReadWirelessVersions(const std::string& forceLoadText);

    // Version rules.
    static bool IsValidVersion(const std::string& text);
    static std::array<unsigned, 3> ParseVersion(const std::string& text);
    // Upgrade flag for a current and an image version: 1 = upgrade, 0 = mismatch.
    static int CompareVersions(const std::string& current, const std::string& image);
    // Sets the entry's upgrade flag from its current version and its image's version.
    static void CompareVersions(ComponentEntry& entry);

    // What the check says when more than one router answered its discovery: each router's
    // address and MAC, and how to choose one.
    static std::string SeveralRoutersText(const std::vector<DiscoveryReply>& routers);

    // Advice given with "No router is detected" by the last check (empty otherwise).
    const std::vector<std::string>& GetNoRouterHint() const { return m_NoRouterHint; }
    // True when this check found a router (the session holds its address).
    bool RouterFound() const { return m_bRouterFound; }
    // The rows the check wrote, in list order (empty when it ended before filling the list).
    const std::vector<CheckRow>& GetRows() const { return m_Rows; }

    // One line for the rows already at their image's version ("" when none is): every row
    // ("The router already has every image's version; ...") or the ones that are.
    static std::string UpToDateSummary(const std::vector<CheckRow>& rows, const ComponentEntry* table);
    // One warning per row whose version was not read: its image goes without a version check.
    static std::vector<std::string> UnreadVersionWarnings(const std::vector<CheckRow>& rows,
                                                          const ComponentEntry* table);

private:
    bool HasImage(int index) const;
    // The entry has an image, or one was found for it that is damaged.
    bool HasImageOrProblem(int index) const;
    // Why `index`'s version was not read; kept only while its version is not valid.
    void NoteVersionProblem(int index, const std::string& why);
    // Sends `command` and takes the newest valid-version line of the answer; empty, with
    // `why` set (and `failLine` logged when nothing answered), when there is none.
    std::string ReadVersionLine(const std::string& command, const char* failLine, std::string& why);
    bool Stopped() const { return m_Hooks.stopRequested && m_Hooks.stopRequested(); }
    bool Discover(std::string& versionText);
    // False (logged and warned) when the time scale may not drive the router just found.
    bool TimeScaleAllowed();
    void StoreRouter(const DiscoveryReply& reply, std::string& versionText);
    void ReportNoRouter();
    void ReportSeveralRouters(const std::vector<DiscoveryReply>& routers);
    CRouterFinder MakeFinder() const;
    std::string NewestValidLine() const;
    void FillRows(bool& passed);
    void RemoveOtherFamilyRows();
    void LoadStatusTexts();

    ComponentEntry* m_pTable;
    CRouterSession& m_Session;
    CTelnetClient& m_Telnet;
    IComponentList* m_pList;
    RouterOverrides m_Overrides;
    bool m_bEmbeddedImages;
    Hooks m_Hooks;
    std::string m_strNotFound;
    std::string m_strMismatch;
    std::string m_strWaiting;
    std::vector<std::string> m_NoRouterHint;
    std::string m_strTelnetProblem;                             // why the last TelnetLogin failed
    std::array<std::string, COMPONENT_COUNT> m_VersionProblems; // by component index
    std::vector<CheckRow> m_Rows;
    bool m_bRouterFound = false;
};
