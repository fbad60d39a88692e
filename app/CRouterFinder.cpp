#include "app/CRouterFinder.h"

#include <algorithm>

#include "platform/Clock.h"

CRouterFinder::CRouterFinder(const RouterOverrides& overrides, const CWsaEvent* cancel,
                             std::function<bool()> stopRequested)
    : m_Overrides(overrides), m_pCancel(cancel), m_StopRequested(std::move(stopRequested))
{
}

bool CRouterFinder::Stopped() const { return m_StopRequested && m_StopRequested(); }

bool CRouterFinder::TryOnce(const std::array<uint8_t, 4>& target, bool firstOnly, std::vector<DiscoveryReply>* replies)
{
    ++m_nTries;
    CUdpHdlc udp(target.data(), m_Overrides.routerPort, m_Overrides.interfaceName, m_pCancel);
    bool found = false;
    if (firstOnly) {
        DiscoveryReply reply;
        found = udp.Discover(reply.mac.data(), reply.ip.data(), &reply.text);
        if (found)
            replies->push_back(std::move(reply));
    } else {
        found = udp.DiscoverAll(replies);
    }
    ReportSkipped(udp);
    if (!found)
        Sleep(RETRY_PAUSE_MS); // before the socket is closed, as the check always did
    return found;
}

void CRouterFinder::ReportSkipped(const CUdpHdlc& udp) const
{
    if (!m_SkipSink)
        return;
    for (const std::string& note : udp.SkipNotes())
        m_SkipSink(note);
    const int more = udp.SkippedCount() - static_cast<int>(udp.SkipNotes().size());
    if (more > 0)
        m_SkipSink("and " + std::to_string(more) + " more discovery replies skipped in this try");
}

bool CRouterFinder::FindOne(DiscoveryReply* reply)
{
    m_Answered.clear();
    for (const auto& target : m_Overrides.targets) {
        for (int i = 0; i < TRIES_PER_TARGET; ++i) {
            if (Stopped())
                return false;
            std::vector<DiscoveryReply> replies;
            if (!TryOnce(target, false, &replies))
                continue;
            // A router whose replies differ only in their text is one router.
            for (const DiscoveryReply& r : replies) {
                const bool known = std::any_of(m_Answered.begin(), m_Answered.end(), [&r](const DiscoveryReply& a) {
                    return a.ip == r.ip && a.mac == r.mac;
                });
                if (!known)
                    m_Answered.push_back(r);
            }
            if (m_Answered.size() != 1)
                return false;
            *reply = m_Answered.front();
            return true;
        }
    }
    return false;
}

std::vector<DiscoveryReply> CRouterFinder::FindAll()
{
    std::vector<DiscoveryReply> all;
    for (const auto& target : m_Overrides.targets) {
        for (int i = 0; i < TRIES_PER_TARGET; ++i) {
            if (Stopped())
                return all;
            std::vector<DiscoveryReply> replies;
            if (!TryOnce(target, false, &replies))
                continue;
            for (DiscoveryReply& r : replies) {
                if (std::find(all.begin(), all.end(), r) == all.end())
                    all.push_back(std::move(r));
            }
            break; // this target answered: on to the next, as the check would stop here
        }
    }
    return all;
}
