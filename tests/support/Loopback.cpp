#include "tests/support/Loopback.h"

#include <algorithm>
#include <chrono>

namespace kivtest {

namespace {

int MsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits until `socket` is ready (writable when `write`); false on time-out, error or a set
// `stop`.
bool WaitReady(NativeSocket socket, bool write, int waitMs, const StopSignal* stop)
{
    PollEntry entries[2] = {{socket, write}, {stop != nullptr ? stop->Socket() : INVALID_NATIVE_SOCKET}};
    return PollSockets(entries, 2, waitMs) && entries[0].ready && !entries[1].ready;
}

} // namespace

Ipv4Endpoint LoopbackAddress(uint16_t port, uint8_t lastOctet)
{
    const uint8_t bytes[4] = {127, 0, 0, lastOctet};
    Ipv4Endpoint endpoint;
    std::copy(bytes, bytes + 4, reinterpret_cast<uint8_t*>(&endpoint.address));
    endpoint.port = port;
    return endpoint;
}

bool WaitReadable(NativeSocket socket, int waitMs, const StopSignal* stop)
{
    return WaitReady(socket, false, waitMs, stop);
}

bool SendAll(NativeSocket socket, const void* data, size_t n, int waitMs, const StopSignal* stop)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        bool wouldBlock = false;
        const long k = SendSome(socket, p, n, wouldBlock);
        if (wouldBlock) {
            if (!WaitReady(socket, true, waitMs < 0 ? -1 : MsLeft(deadline), stop))
                return false;
            continue;
        }
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

std::string ReceiveBytes(NativeSocket socket, size_t n, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::string out;
    char buffer[65536];
    while (out.size() < n && WaitReadable(socket, MsLeft(deadline))) {
        bool wouldBlock = false;
        const long k = ReceiveSome(socket, buffer, std::min(sizeof buffer, n - out.size()), wouldBlock);
        if (wouldBlock)
            continue;
        if (k <= 0)
            break;
        out.append(buffer, static_cast<size_t>(k));
    }
    return out;
}

bool PeerClosed(NativeSocket socket, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    char buffer[4096];
    while (WaitReadable(socket, MsLeft(deadline))) {
        bool wouldBlock = false;
        if (ReceiveSome(socket, buffer, sizeof buffer, wouldBlock) <= 0 && !wouldBlock)
            return true;
    }
    return false;
}

void ResetConnection(CSocketHandle& socket) { CloseWithReset(socket); }

} // namespace kivtest
