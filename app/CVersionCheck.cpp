#include "app/CVersionCheck.h"

#include <cstdio>
#include <memory>

#include "app/DiscoveryHint.h"
#include "app/TimeScaleRule.h"
#include "diag/CUdpHdlc.h"
#include "engine/CRouterSession.h"
#include "engine/ComponentEntry.h"
#include "engine/IComponentList.h"
#include "log/CDownloadLog.h"
#include "net/CNetInterfaces.h"
#include "net/CTelnetClient.h"
#include "platform/Clock.h"
#include "platform/CoreWarning.h"
#include "platform/TextCodec.h"
#include "res/Resources.h"
#include "wire/TelnetDialogue.h"

using namespace TelnetDialogue;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

CVersionCheck::CVersionCheck(ComponentEntry* table, CRouterSession& session, CTelnetClient& telnet,
                             IComponentList* list, const RouterOverrides& overrides, bool embeddedImages, Hooks hooks)
    : m_pTable(table), m_Session(session), m_Telnet(telnet), m_pList(list), m_Overrides(overrides),
      m_bEmbeddedImages(embeddedImages), m_Hooks(std::move(hooks))
{
}

// ---- version rules -----------------------------------------------------------------------

bool CVersionCheck::IsValidVersion(const std::string& text)
{
    int dots = 0;
    bool groupStarted = false;
    for (char c : text) {
        if (c == '.') {
            if (!groupStarted)
                return false; // a dot first, or right after another dot
            if (++dots == 3)
                return true; // what follows the third dot is not examined
            groupStarted = false;
        } else if (IsDigit(c)) {
            groupStarted = true;
        } else {
            return false;
        }
    }
    return false;
}

std::array<unsigned, 3> CVersionCheck::ParseVersion(const std::string& text)
{
    std::array<unsigned, 3> numbers{0, 0, 0};
    int ended = 0;
    bool running = false;
    unsigned value = 0;
    for (char c : text) {
        if (IsDigit(c)) {
            value = value * 10u + static_cast<unsigned>(c - '0');
            running = true;
        } else if (running) {
            numbers[ended++] = value;
            value = 0;
            running = false;
            if (ended == 3)
                break;
        }
    }
    // A number still running at the end of the text is dropped.
    return numbers;
}

int CVersionCheck::CompareVersions(const std::string& current, const std::string& image)
{
    if (!IsValidVersion(current) || !IsValidVersion(image))
        return 1;
    if (current == image)
        return 1;
    std::array<unsigned, 3> a = ParseVersion(current);
    std::array<unsigned, 3> b = ParseVersion(image);
    return (a[0] == b[0] && a[1] == b[1]) ? 1 : 0;
}

void CVersionCheck::CompareVersions(ComponentEntry& entry)
{
    entry.m_UpgradeFlag = CompareVersions(entry.m_CurrentVersion, entry.m_Image.GetVersion());
}

// ---- the check ---------------------------------------------------------------------------

bool CVersionCheck::HasImage(int index) const { return m_pTable[index].m_Image.IsValid(); }

bool CVersionCheck::HasImageOrProblem(int index) const
{
    return HasImage(index) || !m_pTable[index].m_ImageProblem.empty();
}

void CVersionCheck::NoteVersionProblem(int index, const std::string& why)
{
    if (m_VersionProblems[index].empty())
        m_VersionProblems[index] = why;
}

bool CVersionCheck::CheckVersions()
{
    if (m_pList)
        m_pList->DeleteAllItems();
    m_Rows.clear();
    for (std::string& problem : m_VersionProblems)
        problem.clear();
    if (m_Hooks.relayout)
        m_Hooks.relayout();

    if (!m_bEmbeddedImages && !(m_Hooks.findImageFiles && m_Hooks.findImageFiles()))
        return false;
    if (Stopped())
        return false;

    std::string discoveryVersion;
    if (!Discover(discoveryVersion))
        return false;
    if (!TimeScaleAllowed())
        return false;
    if (!IsValidVersion(discoveryVersion))
        discoveryVersion.clear();

    if (Stopped())
        return false;
    ReadRouterVersions(discoveryVersion);
    if (Stopped())
        return false;
    ReadWirelessVersions(FORCE_LOAD_TEXT);
    if (Stopped())
        return false;

    LoadStatusTexts();
    bool passed = true;
    FillRows(passed);
    RemoveOtherFamilyRows();
    if (m_Hooks.relayout)
        m_Hooks.relayout();
    return passed;
}

CRouterFinder CVersionCheck::MakeFinder() const
{
    CRouterFinder finder(m_Overrides, m_Hooks.stopEvent, m_Hooks.stopRequested);
    CDownloadLog& log = m_Session.Log();
    finder.SetSkipSink([&log](const std::string& note) { LogPrintf(log, "%s", note.c_str()); });
    return finder;
}

bool CVersionCheck::Discover(std::string& versionText)
{
    CRouterFinder finder = MakeFinder();
    DiscoveryReply reply;
    if (finder.FindOne(&reply)) {
        StoreRouter(reply, versionText);
        return true;
    }
    if (finder.Answered().size() > 1)
        ReportSeveralRouters(finder.Answered());
    else if (!finder.Stopped())
        ReportNoRouter();
    return false;
}

std::string CVersionCheck::SeveralRoutersText(const std::vector<DiscoveryReply>& routers)
{
    std::string named;
    for (size_t i = 0; i < routers.size(); ++i) {
        const std::string mac = FormatMac(routers[i].mac);
        named += std::string(i == 0                    ? ""
                             : i + 1 == routers.size() ? " and "
                                                       : ", ") +
                 FormatIpv4(routers[i].ip) + " (MAC " + mac + ")";
    }
    return "More than one router answered: " + named +
           ". Choose the one to check and upgrade by its address: --target ADDRESS for kivupgrade-cli, or "
           "KIV_DISCOVERY_TARGETS=ADDRESS in the environment of the window.";
}

void CVersionCheck::ReportSeveralRouters(const std::vector<DiscoveryReply>& routers)
{
    const std::string text = SeveralRoutersText(routers);
    LogPrintf(m_Session.Log(), "%s", text.c_str());
    ShowCoreWarning(text);
}

bool CVersionCheck::TimeScaleAllowed()
{
    if (IsTimeScaleAllowedToward(m_Session.GetRouterIp(), m_Overrides.timeScaleAnyRouter))
        return true;
    const std::string refusal = TimeScaleRefusal(m_Session.GetRouterIp());
    LogPrintf(m_Session.Log(), "%s", refusal.c_str());
    ShowCoreWarning(refusal);
    return false;
}

bool CVersionCheck::DiscoverRouter(const std::array<uint8_t, 4>& target, std::string& versionText)
{
    CRouterFinder finder = MakeFinder();
    std::vector<DiscoveryReply> replies;
    if (!finder.TryOnce(target, true, &replies))
        return false;
    StoreRouter(replies.front(), versionText);
    return true;
}

void CVersionCheck::StoreRouter(const DiscoveryReply& reply, std::string& versionText)
{
    m_Session.SetRouter(reply.ip, reply.mac);
    m_bRouterFound = true;
    versionText = reply.text;
    LogPrintf(m_Session.Log(), "Router found: %s, MAC %s%s%s", FormatIpv4(reply.ip).c_str(),
              FormatMac(reply.mac).c_str(), m_Overrides.interfaceName.empty() ? "" : ", through ",
              m_Overrides.interfaceName.c_str());
}

void CVersionCheck::ReportNoRouter()
{
    m_NoRouterHint = BuildDiscoveryHint(CNetInterfaces::ReadSystem(), m_Overrides.targets, m_Overrides.interfaceName,
                                        m_Overrides.routerPort);
    if (m_Hooks.showWarningWithHint)
        m_Hooks.showWarningWithHint(IDS_NO_ROUTER, JoinHint(m_NoRouterHint));
    else if (m_Hooks.showWarning)
        m_Hooks.showWarning(IDS_NO_ROUTER);
    CDownloadLog& log = m_Session.Log();
    LogPrintf(log, "没有检测到路由器");
    for (const std::string& line : m_NoRouterHint)
        LogPrintf(log, "%s", line.c_str());
}

bool CVersionCheck::TelnetLogin(const std::string& prompt)
{
    CDownloadLog& log = m_Session.Log();
    m_Telnet.SetPortNumber(m_Session.GetTelnetPort());
    m_Telnet.SetInterface(m_Overrides.interfaceName);
    m_Telnet.SetCancelHandle(m_Hooks.stopEvent);
    m_strTelnetProblem.clear();
    auto fail = [&](const char* line, const char* why) {
        LogPrintf(log, "%s", line);
        m_strTelnetProblem = why;
        return false;
    };
    if (!m_Telnet.Connect(m_Session.GetRouterIpText()))
        return fail("创建TCP连接失败", "the router's Telnet could not be reached");
    if (!m_Telnet.WaitReply(TELNET_WAIT_MS))
        return fail("没有收到Telnet的登录提示信息", "the router's Telnet sent no login prompt");
    if (m_Telnet.FindLine(LOGIN_PROMPT_MARK) == -1)
        return fail("Telnet的登录提示中没有':'", "the router's Telnet login prompt had no ':'");
    if (!m_Telnet.SendAndWait(std::string(USER) + LINE_END, LOGIN_PROMPT_MARK, TELNET_WAIT_MS))
        return fail("输入用户名admin失败", "the router's Telnet did not take the user name");
    if (!m_Telnet.SendAndWait(std::string(PASSWORD) + LINE_END, prompt, TELNET_WAIT_MS))
        return fail("输入密码tovex失败", "the router's Telnet did not take the password");
    return true;
}

std::string CVersionCheck::NewestValidLine() const
{
    for (int i = m_Telnet.GetLineCount() - 1; i >= 0; --i) {
        std::string line = m_Telnet.GetLine(i);
        // Only the start of a line is checked: what follows the third dot is kept, made
        // printable, since a router may send anything there.
        if (IsValidVersion(line))
            return MakePrintable(line);
    }
    return std::string();
}

std::string CVersionCheck::ReadVersionLine(const std::string& command, const char* failLine, std::string& why)
{
    if (!m_Telnet.SendAndWait(command + LINE_END, PROMPT_FAMILY_A, TELNET_WAIT_MS)) {
        LogPrintf(m_Session.Log(), "%s", failLine);
        why = std::string("the router did not answer \"") + command + "\"";
        return std::string();
    }
    std::string line = NewestValidLine();
    if (line.empty())
        why = std::string("the router's answer to \"") + command + "\" held no version";
    return line;
}

void CVersionCheck::ReadRouterVersions(const std::string& fallback)
{
    for (int i = COMPONENT_BOOT; i <= COMPONENT_CONFIG_FILE; ++i)
        m_pTable[i].m_CurrentVersion.clear();

    if (HasImage(COMPONENT_BOOT) || HasImage(COMPONENT_APP) || HasImage(COMPONENT_CUSTOMIZATION)) {
        if (TelnetLogin(PROMPT_FAMILY_A)) {
            std::string why;
            if (HasImage(COMPONENT_BOOT)) {
                std::string line = ReadVersionLine(NvramGet(NVRAM_BOOT_VERSION), "获取cfe_version失败", why);
                if (!line.empty())
                    m_pTable[COMPONENT_BOOT].m_CurrentVersion = line;
                NoteVersionProblem(COMPONENT_BOOT, why);
            }
            why.clear();
            if (HasImage(COMPONENT_APP) || HasImage(COMPONENT_CUSTOMIZATION)) {
                std::string line = ReadVersionLine(NvramGet(NVRAM_APP_VERSION), "获取app_version失败", why);
                if (!line.empty())
                    m_pTable[COMPONENT_APP].m_CurrentVersion = line;
                NoteVersionProblem(COMPONENT_APP, why);
            }
        } else {
            NoteVersionProblem(COMPONENT_BOOT, m_strTelnetProblem);
            NoteVersionProblem(COMPONENT_APP, m_strTelnetProblem);
        }
        m_Telnet.Disconnect();
        for (int i : {COMPONENT_BOOT, COMPONENT_APP}) {
            if (!IsValidVersion(m_pTable[i].m_CurrentVersion))
                m_pTable[i].m_CurrentVersion = fallback;
        }
        m_pTable[COMPONENT_CUSTOMIZATION].m_CurrentVersion = m_pTable[COMPONENT_APP].m_CurrentVersion;
        m_VersionProblems[COMPONENT_CUSTOMIZATION] = m_VersionProblems[COMPONENT_APP];
        return;
    }

    if (HasImage(COMPONENT_COMMON_HTML) || HasImage(COMPONENT_SPECIAL_HTML) || HasImage(COMPONENT_APP_B) ||
        HasImage(COMPONENT_CONFIG_FILE)) {
        std::string& appB = m_pTable[COMPONENT_APP_B].m_CurrentVersion;
        std::string why;
        if (!TelnetLogin(PROMPT_FAMILY_B)) {
            why = m_strTelnetProblem;
        } else if (!m_Telnet.SendAndWait(std::string(DISPLAY_VERSION) + LINE_END, DISPLAY_VERSION_DONE,
                                         TELNET_WAIT_MS)) {
            why = std::string("the router did not answer \"") + DISPLAY_VERSION + "\"";
        } else {
            const std::string marker = VERSION_MARKER;
            for (int i = m_Telnet.GetLineCount() - 1; i >= 0; --i) {
                std::string line = m_Telnet.GetLine(i);
                size_t at = line.find(marker);
                if (at != std::string::npos) {
                    appB = MakePrintable(line.substr(at + marker.size()));
                    break;
                }
            }
            if (!IsValidVersion(appB))
                why = std::string("the router's answer to \"") + DISPLAY_VERSION + "\" held no version";
        }
        m_Telnet.Disconnect();
        std::string version = IsValidVersion(appB) ? appB : fallback;
        for (int i = COMPONENT_COMMON_HTML; i <= COMPONENT_CONFIG_FILE; ++i) {
            m_pTable[i].m_CurrentVersion = version;
            NoteVersionProblem(i, why);
        }
    }
}

void CVersionCheck::ReadWirelessVersions(const std::string& forceLoadText)
{
    m_pTable[COMPONENT_FIRMWARE].m_CurrentVersion.clear();
    m_pTable[COMPONENT_DASHBOARD].m_CurrentVersion.clear();
    if (!HasImage(COMPONENT_FIRMWARE) && !HasImage(COMPONENT_DASHBOARD))
        return;
    auto note = [this](const std::string& why) {
        NoteVersionProblem(COMPONENT_FIRMWARE, why);
        NoteVersionProblem(COMPONENT_DASHBOARD, why);
    };

    // A stop request ends the wait for the connection at once; the upgrade later opens the
    // channel without it.
    m_Session.Adapter().SetCancelHandle(m_Hooks.stopEvent);
    const bool opened = m_Session.OpenChannel();
    m_Session.Adapter().SetCancelHandle(nullptr);
    if (!opened) {
        note("the router's TCP channel could not be opened");
        if (m_Hooks.showWarning && !Stopped())
            m_Hooks.showWarning(IDS_TCP_CONNECT_FAILED);
        return;
    }
    // Force-load and offline unless the module's answer says otherwise.
    m_Session.SetModuleMode(1, 1);
    const bool shaken = m_Session.HandShake(0);
    if (!shaken) {
        LogPrintf(m_Session.Log(), "初次和无线模块握手失败");
        note("the wireless module did not answer the hand-shake");
    } else if (m_Session.GetForceLoad()) {
        m_pTable[COMPONENT_FIRMWARE].m_CurrentVersion = forceLoadText;
        m_pTable[COMPONENT_DASHBOARD].m_CurrentVersion = forceLoadText;
        note("the wireless module is in force-load mode");
    } else {
        const char* unanswered = "the wireless module did not answer the version query";
        if (HasImage(COMPONENT_FIRMWARE) &&
            !m_Session.Diag().DIAG_QueryBoardVersion(&m_pTable[COMPONENT_FIRMWARE].m_CurrentVersion))
            NoteVersionProblem(COMPONENT_FIRMWARE, unanswered);
        if (HasImage(COMPONENT_DASHBOARD) &&
            !m_Session.Diag().DIAG_QueryISOVersion(&m_pTable[COMPONENT_DASHBOARD].m_CurrentVersion))
            NoteVersionProblem(COMPONENT_DASHBOARD, unanswered);
        note("the wireless module's answer held no version");
    }
    m_Session.CloseChannel();
}

void CVersionCheck::LoadStatusTexts()
{
    m_strNotFound = LoadStringResource(IDS_NOT_FOUND);
    m_strMismatch = LoadStringResource(IDS_VERSION_MISMATCH);
    m_strWaiting = LoadStringResource(IDS_WAITING_UPGRADE);
}

void CVersionCheck::FillRows(bool& passed)
{
    for (int i = 0; i < COMPONENT_COUNT; ++i) {
        ComponentEntry& entry = m_pTable[i];
        CheckRow row;
        row.component = i;
        if (m_pList)
            m_pList->InsertItem(i, entry.m_TypeName);
        if (!HasImage(i)) {
            // A damaged image fails the check in its own row; none at all is "Not found".
            row.imageProblem = entry.m_ImageProblem;
            const bool damaged = !row.imageProblem.empty();
            if (damaged)
                passed = false;
            if (m_pList) {
                m_pList->SetItemData(i, damaged ? COLOUR_MISMATCH : COLOUR_GREY_TEXT);
                m_pList->SetItemText(i, IComponentList::COL_STATUS,
                                     damaged ? IMAGE_DAMAGED_PREFIX + row.imageProblem : m_strNotFound);
            }
            m_Rows.push_back(row);
            continue;
        }
        if (i == COMPONENT_DASHBOARD)
            entry.m_UpgradeFlag = 1;
        else
            CompareVersions(entry);
        if (entry.m_UpgradeFlag == 0)
            passed = false;
        const std::string imageVersion = entry.m_Image.GetVersion();
        row.versionRead = IsValidVersion(entry.m_CurrentVersion);
        row.upToDate = row.versionRead && entry.m_CurrentVersion == imageVersion;
        if (!row.versionRead)
            row.versionProblem = m_VersionProblems[i].empty() ? "no version was read" : m_VersionProblems[i];
        std::string status = m_strMismatch;
        if (entry.m_UpgradeFlag == 1) {
            // Force-load mode says so in the current-version cell already.
            if (!row.versionRead && entry.m_CurrentVersion != FORCE_LOAD_TEXT)
                status = VERSION_NOT_READ_PREFIX + row.versionProblem;
            else
                status = row.upToDate ? UP_TO_DATE : m_strWaiting;
        }
        if (m_pList) {
            m_pList->SetItemText(i, IComponentList::COL_CURRENT, entry.m_CurrentVersion);
            m_pList->SetItemText(i, IComponentList::COL_UPGRADE, imageVersion);
            m_pList->SetItemData(i, entry.m_UpgradeFlag == 1 ? COLOUR_UPGRADE : COLOUR_MISMATCH);
            m_pList->SetItemText(i, IComponentList::COL_STATUS, status);
        }
        m_Rows.push_back(row);
    }
}

std::string CVersionCheck::UpToDateSummary(const std::vector<CheckRow>& rows, const ComponentEntry* table)
{
    std::string names;
    size_t withImage = 0;
    size_t upToDate = 0;
    for (const CheckRow& row : rows) {
        if (!table[row.component].m_Image.IsValid())
            continue;
        ++withImage;
        if (row.upToDate) {
            ++upToDate;
            names += (names.empty() ? "" : ", ") + table[row.component].m_TypeName;
        }
    }
    if (upToDate == 0)
        return std::string();
    if (upToDate == withImage)
        return "The router already has every image's version; an upgrade would write them again.";
    return "Already at their image's version: " + names + "; an upgrade would write them again too.";
}

std::vector<std::string> CVersionCheck::UnreadVersionWarnings(const std::vector<CheckRow>& rows,
                                                              const ComponentEntry* table)
{
    std::vector<std::string> warnings;
    for (const CheckRow& row : rows) {
        if (!table[row.component].m_Image.IsValid() || row.versionRead)
            continue;
        warnings.push_back("The current version of the " + table[row.component].m_TypeName + " could not be read (" +
                           row.versionProblem + "); its image will be written without a version check.");
    }
    return warnings;
}

void CVersionCheck::RemoveOtherFamilyRows()
{
    // A damaged image places its family's rows as a good one would.
    bool familyA = HasImageOrProblem(COMPONENT_BOOT) || HasImageOrProblem(COMPONENT_APP) ||
                   HasImageOrProblem(COMPONENT_CUSTOMIZATION);
    const auto first = m_Rows.begin() + (familyA ? COMPONENT_COMMON_HTML : COMPONENT_BOOT);
    m_Rows.erase(first, first + (familyA ? 4 : 3));
    if (familyA) {
        if (m_pList) {
            for (int i = 0; i < 4; ++i)
                m_pList->DeleteItem(3);
        }
        // Family B is ignored beside family A: its images are not sent either.
        for (int i = COMPONENT_COMMON_HTML; i <= COMPONENT_CONFIG_FILE; ++i)
            m_pTable[i].m_UpgradeFlag = 0;
    } else if (m_pList) {
        for (int i = 0; i < 3; ++i)
            m_pList->DeleteItem(0);
    }
}
