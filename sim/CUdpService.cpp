#include "sim/CUdpService.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "sim/CSimContext.h"
#include "wire/HdlcFraming.h"
#include "wire/RouterAddress.h"
#include "wire/UdpRecord.h"

namespace {

const char* RecordName(uint8_t type)
{
    switch (type) {
    case UDP_DISCOVERY: return "discovery";
    case UDP_ERASE_NVRAM: return "erase-nvram";
    case UDP_ENTER_FORCE_LOAD: return "enter-force-load";
    case UDP_LEAVE_FORCE_LOAD: return "leave-force-load";
    case UDP_READY_PROBE: return "ready-probe";
    default: return "unknown";
    }
}

nlohmann::json RecordFields(const uint8_t* record)
{
    UdpRecord r;
    r.Assign(record);
    return {{"kind", "record"},
            {"type", record[0]},
            {"name", RecordName(record[0])},
            {"ip", FormatIpv4(record + 1)},
            {"mac", FormatMac(record + 5)},
            {"text", r.GetText()},
            {"spare", record[31]}};
}

} // namespace

CUdpService::CUdpService(CSimContext& context) : m_Context(context) {}

bool CUdpService::HandleDatagram(const uint8_t* data, size_t length, bool truncated,
                                 const std::array<uint8_t, 4>& arrivedOn, std::vector<std::vector<uint8_t>>& replies)
{
    CTranscript& transcript = m_Context.Transcript();
    if (truncated || length > MAX_DATAGRAM) {
        transcript.Violation("udp", 0, "oversized datagram", data, std::min(length, MAX_DATAGRAM));
        return false;
    }
    uint8_t payload[MAX_DATAGRAM];
    const uint32_t n = length == 0 ? 0 : HdlcDecode(data, static_cast<uint32_t>(length), payload);
    if (length == 0 || data[0] != HDLC_FLAG || data[length - 1] != HDLC_FLAG) {
        transcript.Violation("udp", 0, "datagram is not one frame with leading and trailing flag", data, length);
        if (n == 0)
            return false;
    }
    if (n == 0) {
        transcript.Violation("udp", 0, "bad frame (FCS or length)", data, length);
        return false;
    }
    if (n != UdpRecord::SIZE) {
        transcript.Violation("udp", 0, "record of " + std::to_string(n) + " bytes, expected 32", data, length);
        return false;
    }
    transcript.Message("udp", "in", 0, RecordFields(payload), data, length);
    if (payload[0] != UDP_DISCOVERY) {
        Control(payload, arrivedOn, replies);
        return false;
    }
    Discovery(payload, arrivedOn, replies);
    return true;
}

void CUdpService::Discovery(const uint8_t* record, const std::array<uint8_t, 4>& arrivedOn,
                            std::vector<std::vector<uint8_t>>& replies)
{
    const CSimConfig& config = m_Context.Config();
    if (std::any_of(record + 1, record + UdpRecord::SIZE, [](uint8_t b) { return b != 0; }))
        m_Context.Transcript().Violation("udp", 0, "discovery record with non-zero fields", record, UdpRecord::SIZE);
    if (config.faults.Has(Fault::NoDiscovery)) {
        m_Context.Transcript().Event("udp", 0, "discovery not answered (fault no-discovery)");
        return;
    }
    const std::array<uint8_t, 4> ip = m_Context.RouterIp(arrivedOn);
    UdpRecord reply;
    reply.SetType(UDP_DISCOVERY);
    reply.SetIp(ip.data());
    reply.SetText(m_Context.DiscoveryText());
    if (config.faults.Has(Fault::DiscoveryOtherType)) {
        UdpRecord other = reply;
        other.SetMac(config.mac.data());
        other.SetType(static_cast<uint8_t>(config.faults.Number(Fault::DiscoveryOtherType)));
        Send(other.Data(), "discovery reply of another type (fault)", replies);
    }
    if (config.faults.Has(Fault::DiscoveryZeroMac))
        Send(reply.Data(), "discovery reply with zero MAC (fault)", replies);
    reply.SetMac(config.mac.data());
    if (config.faults.Has(Fault::DiscoveryNames)) {
        std::array<uint8_t, 4> named{};
        ParseIpv4(config.faults.Text(Fault::DiscoveryNames), named); // checked when the fault was given
        reply.SetIp(named.data());
        Send(reply.Data(), "discovery reply naming another address (fault)", replies);
        return;
    }
    if (config.faults.Has(Fault::DiscoverySize)) {
        SendBytes(reply.Data(), config.faults.Number(Fault::DiscoverySize), "discovery reply of a wrong size (fault)",
                  replies);
        return;
    }
    Send(reply.Data(), "discovery reply", replies);
}

std::vector<uint8_t> CUdpService::FloodDatagram(const std::array<uint8_t, 4>& arrivedOn)
{
    UdpRecord record;
    record.SetType(2);
    record.SetIp(m_Context.RouterIp(arrivedOn).data());
    record.SetMac(m_Context.Config().mac.data());
    std::vector<std::vector<uint8_t>> out;
    Send(record.Data(), "record of type 2 (fault discovery-flood)", out);
    return out.front();
}

void CUdpService::Control(const uint8_t* record, const std::array<uint8_t, 4>& arrivedOn,
                          std::vector<std::vector<uint8_t>>& replies)
{
    CTranscript& transcript = m_Context.Transcript();
    const CSimConfig& config = m_Context.Config();
    const uint8_t type = record[0];
    if (type != UDP_ERASE_NVRAM && type != UDP_ENTER_FORCE_LOAD && type != UDP_LEAVE_FORCE_LOAD &&
        type != UDP_READY_PROBE) {
        transcript.Violation("udp", 0, "record of unknown type " + std::to_string(type), record, UdpRecord::SIZE);
        return;
    }
    const std::array<uint8_t, 4> ip = m_Context.RouterIp(arrivedOn);
    if (std::memcmp(record + 1, ip.data(), 4) != 0 || std::memcmp(record + 5, config.mac.data(), 6) != 0) {
        transcript.Violation("udp", 0, std::string(RecordName(type)) + " record with the wrong address or MAC", record,
                             UdpRecord::SIZE);
        return;
    }
    if (std::any_of(record + 11, record + UdpRecord::SIZE, [](uint8_t b) { return b != 0; }))
        transcript.Violation("udp", 0, std::string(RecordName(type)) + " record with non-zero text or spare byte",
                             record, UdpRecord::SIZE);
    CWirelessModule& module = m_Context.Module();
    switch (type) {
    case UDP_ERASE_NVRAM:
        if (config.faults.Has(Fault::NoEraseEcho)) {
            transcript.Event("udp", 0, "erase NVRAM not echoed (fault no-erase-echo)");
            return;
        }
        transcript.Event("router", 0, "NVRAM erased");
        break;
    case UDP_ENTER_FORCE_LOAD:
        module.EnterForceLoad();
        if (config.faults.Has(Fault::NoForceLoadEcho)) {
            transcript.Event("udp", 0, "enter force-load not echoed (fault no-force-load-echo)");
            return;
        }
        break;
    case UDP_LEAVE_FORCE_LOAD:
        module.LeaveForceLoad();
        transcript.Event("router", 0, "force-load released");
        break;
    case UDP_READY_PROBE:
        if (!module.IsUp()) {
            transcript.Event("udp", 0, "ready probe not answered: module restarting");
            return;
        }
        break;
    }
    Send(record, "echo", replies);
}

void CUdpService::Send(const uint8_t* record, const char* kind, std::vector<std::vector<uint8_t>>& replies)
{
    SendBytes(record, UdpRecord::SIZE, kind, replies);
}

void CUdpService::SendBytes(const uint8_t* record, size_t length, const char* kind,
                            std::vector<std::vector<uint8_t>>& replies)
{
    std::vector<uint8_t> payload(record, record + std::min(length, UdpRecord::SIZE));
    payload.resize(length, 0);
    std::vector<uint8_t> frame(HdlcMaxFrameLength(static_cast<uint32_t>(length)));
    frame.resize(HdlcEncode(payload.data(), static_cast<uint32_t>(length), frame, 1));
    nlohmann::json fields = RecordFields(record);
    fields["note"] = kind;
    m_Context.Transcript().Message("udp", "out", 0, fields, frame.data(), frame.size());
    replies.push_back(std::move(frame));
}
