// Arbitrary bytes into the virtual router's input paths, without sockets: the TCP channel's
// stream parser (frames, control packets, raw image data, the module's commands), the UDP
// record handler and the Telnet session.
//
// Input: byte 0 picks the module's start state, byte 1 the chunk size; the rest is split
// into three equal thirds, one per service.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Clock.h"
#include "sim/CSimContext.h"
#include "sim/CTcpSession.h"
#include "sim/CTelnetSession.h"
#include "sim/CUdpService.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    CSimConfig config;
    config.forceLoad = (data[0] & 1) != 0;
    config.offline = (data[0] & 2) != 0;
    config.family = (data[0] & 4) != 0 ? 'B' : 'A';
    config.unlockCodes = {std::array<uint8_t, 8>{}}; // eight zero bytes: easy to find
    config.flashTimeMs = 0;
    config.restartTimeMs = 0;
    const size_t chunk = 1 + data[1];
    data += 2;
    size -= 2;
    const size_t third = size / 3;

    CSimContext context(config);
    context.Transcript().SetEchoViolations(false);

    CTcpSession tcp(context, 1);
    for (size_t at = 0; at < third; at += chunk) {
        tcp.OnBytes(data + at, std::min(chunk, third - at));
        tcp.Tick(GetTickCount());
        context.Module().Tick(GetTickCount());
        tcp.Output().clear();
    }

    CUdpService udp(context);
    const uint8_t* datagrams = data + third;
    for (size_t at = 0; at < third; at += chunk) {
        std::vector<std::vector<uint8_t>> replies;
        udp.HandleDatagram(datagrams + at, std::min(chunk, third - at), false, {127, 0, 0, 1}, replies);
    }

    CTelnetSession telnet(context, 2);
    telnet.OnConnect();
    telnet.OnBytes(data + 2 * third, size - 2 * third);
    return 0;
}
