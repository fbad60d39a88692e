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
// the first router of the first successful try; the discover command takes every router
// that answered a successful try of each target.
class CRouterFinder {
public:
    static constexpr int TRIES_PER_TARGET = 3;
    static constexpr uint32_t RETRY_PAUSE_MS = 100;

    // `cancelHandle` (pollable, readable once a stop is requested, or -1) ends a try's
    // wait at once; `stopRequested` is asked before every try.
    CRouterFinder(const RouterOverrides& overrides, int cancelHandle, std::function<bool()> stopRequested);

    // Receives one line for every skipped reply (at most CUdpHdlc::MAX_SKIP_NOTES per try,
    // then a count) and nothing else; for the download log or the terminal.
    void SetSkipSink(std::function<void(const std::string&)> sink) { m_SkipSink = std::move(sink); }

    // The first router that answered; false when every try failed or a stop was requested.
    bool FindFirst(DiscoveryReply* reply);
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
    int m_nCancelHandle;
    std::function<bool()> m_StopRequested;
    std::function<void(const std::string&)> m_SkipSink;
    int m_nTries = 0;
};
