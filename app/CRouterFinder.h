#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/RouterOverrides.h"
#include "diag/CUdpHdlc.h"

// Looks for the router on the targets in order: up to three discovery tries per target,
// each try a new CUdpHdlc (tied to the chosen interface, if any) that listens 3000 ms from
// its send, with a 100 ms pause after a try that found nothing. The version check takes
// the router of the first successful try, which listens to its end: when a second router
// answers it too, the check takes neither (whoever answers first must not decide which
// device is written). The discover command takes every router that answered a successful
// try of each target.
class CRouterFinder {
public:
    static constexpr int TRIES_PER_TARGET = 3;
    static constexpr uint32_t RETRY_PAUSE_MS = 100;

    // `cancel` (an event set once a stop is requested, or null) ends a try's wait at once;
    // `stopRequested` is asked before every try.
    CRouterFinder(const RouterOverrides& overrides, const CWsaEvent* cancel, std::function<bool()> stopRequested);

    // Receives one line for every skipped reply (at most CUdpHdlc::MAX_SKIP_NOTES per try,
    // then a count) and nothing else; for the download log or the terminal.
    void SetSkipSink(std::function<void(const std::string&)> sink) { m_SkipSink = std::move(sink); }

    // The one router that answered the first successful try; false when every try failed,
    // a stop was requested, or that try heard more than one router (Answered() lists them).
    bool FindOne(DiscoveryReply* reply);
    // The routers (each IP and MAC once) that answered the try FindOne ended with.
    const std::vector<DiscoveryReply>& Answered() const { return m_Answered; }
    // Every router that answered, each once, in the order they answered.
    std::vector<DiscoveryReply> FindAll();
    // One try to `target`: every accepted reply goes to `*replies` (only the first when
    // `firstOnly`). Pauses 100 ms when nothing was accepted.
    bool TryOnce(const std::array<uint8_t, 4>& target, bool firstOnly, std::vector<DiscoveryReply>* replies);

    int TriesMade() const { return m_nTries; }
    bool Stopped() const;

private:
    void ReportSkipped(const CUdpHdlc& udp) const;

    RouterOverrides m_Overrides;
    const CWsaEvent* m_pCancel;
    std::function<bool()> m_StopRequested;
    std::function<void(const std::string&)> m_SkipSink;
    int m_nTries = 0;
    std::vector<DiscoveryReply> m_Answered;
};
