#include "sim/CTcpSession.h"

#include <algorithm>
#include <cstring>

#include "images/CSampleImage.h"
#include "platform/ByteOrder.h"
#include "platform/Clock.h"
#include "sim/CBlockMemory.h"
#include "sim/CSimContext.h"
#include "wire/CHdlcFrameWriter.h"
#include "wire/ControlPacket.h"
#include "wire/Crc16.h"
#include "wire/DiagProtocol.h"
#include "wire/DiagRequestName.h"
#include "wire/HdlcFraming.h"
#include "wire/RouterKindBits.h"

CTcpSession::CTcpSession(CSimContext& context, uint32_t conn) : m_Context(context), m_nConn(conn)
{
    m_Collect.reserve(1024);
}

void CTcpSession::OnBytes(const uint8_t* data, size_t length)
{
    size_t i = 0;
    while (i < length && !m_bReset) {
        if (m_State == State::ImageData) {
            i += ImageData(data + i, length - i);
        } else if (m_State == State::Flashing) {
            m_Context.Transcript().Violation("tcp", m_nConn, "bytes beyond the announced image length", data + i,
                                             length - i);
            return;
        } else {
            FrameByte(data[i++]);
        }
    }
}

void CTcpSession::FrameByte(uint8_t byte)
{
    if (byte == HDLC_FLAG) {
        EndFrame();
        return;
    }
    if (m_bOverflow)
        return;
    if (m_Collect.empty() && byte == DiagProtocol::DL_WRITE) {
        const CFaultTable& faults = m_Context.Config().faults;
        const uint32_t number = m_Context.NextBlockFrameNumber();
        if (faults.HitsNumber(Fault::ResetDuringBlock, number)) {
            m_Context.Transcript().Event("tcp", m_nConn, "connection reset while a block write arrives (fault)",
                                         {{"block_frame", number}});
            m_bReset = true;
            return;
        }
    }
    if (m_Collect.size() >= MAX_FRAME_BODY) {
        m_Context.Transcript().Violation("tcp", m_nConn,
                                         "frame longer than " + std::to_string(MAX_FRAME_BODY) + " bytes",
                                         m_Collect.data(), m_Collect.size());
        m_Collect.clear();
        m_bOverflow = true;
        return;
    }
    m_Collect.push_back(byte);
}

void CTcpSession::EndFrame()
{
    if (m_bOverflow) {
        m_bOverflow = false;
        m_Collect.clear();
        return;
    }
    if (m_Collect.empty())
        return; // a leading flag, or a flag right after the previous frame's trailing one
    std::vector<uint8_t> frame;
    frame.swap(m_Collect);
    m_Collect.reserve(1024);
    if (frame.size() < 3) {
        m_Context.Transcript().Violation("tcp", m_nConn, "frame shorter than 3 bytes", frame.data(), frame.size());
        return;
    }
    std::vector<uint8_t> payload(frame.size());
    const uint32_t n = HdlcDecode(frame.data(), static_cast<uint32_t>(frame.size()), payload.data());
    if (n == 0) {
        m_Context.Transcript().Violation("tcp", m_nConn, "bad frame (FCS or stuffing)", frame.data(), frame.size());
        return;
    }
    Dispatch(payload.data(), n);
}

void CTcpSession::Dispatch(const uint8_t* payload, size_t length)
{
    const std::string request = DiagRequestName::Of({payload, length});
    m_Context.Transcript().Message("tcp", "in", m_nConn, {{"kind", "frame"}, {"request", request}}, payload, length);
    if (payload[0] == ControlPacket::LEAD_BYTE) {
        ControlPacket(payload, length);
        return;
    }
    if (m_Context.Config().faults.ListHas(Fault::NoAnswer, request)) {
        m_Context.Transcript().Event("module", m_nConn, "request ignored (fault no-answer)", {{"request", request}});
        return;
    }
    CWirelessModule::Answers answers;
    m_Context.Module().HandlePayload(m_nConn, payload, length, answers);
    for (const auto& answer : answers)
        SendFrame(answer.payload.data(), answer.payload.size(), answer.delayMs);
}

void CTcpSession::ControlPacket(const uint8_t* p, size_t n)
{
    using namespace ControlPacket;
    CTranscript& transcript = m_Context.Transcript();
    if (n != SIZE) {
        transcript.Violation("tcp", m_nConn, "control packet of " + std::to_string(n) + " bytes, expected 40", p, n);
        return;
    }
    const uint32_t value = ValueOf(p);
    if (std::any_of(p + ZERO_TAIL_OFFSET, p + SIZE, [](uint8_t b) { return b != 0; }))
        transcript.Violation("tcp", m_nConn, "control packet with non-zero bytes 34 to 39", p, n);
    const int kind = KindOf(p);
    if (kind == CONTROL_RUT_BEGIN) {
        if (value == 0 || value > MAX_IMAGE_LENGTH) {
            transcript.Violation("tcp", m_nConn, "RUT begin packet announcing " + std::to_string(value) + " bytes", p,
                                 n);
            return;
        }
        transcript.Event("router", m_nConn, "RUT begin", {{"length", value}});
        m_State = State::ImageData;
        m_nImageLength = value;
        m_nImageReceived = 0;
        m_nImageDigest = CBlockMemory::DIGEST_START;
        m_ImageHead.clear();
    } else if (kind == CONTROL_FWT_BEGIN || kind == CONTROL_FWT_FORCE) {
        const bool force = kind == CONTROL_FWT_FORCE;
        if (value != 0)
            transcript.Violation("tcp", m_nConn, "FWT packet with a non-zero value", p, n);
        const bool downloader = m_Context.Module().GetMode() == CWirelessModule::Mode::Downloader;
        transcript.Event("router", m_nConn, force ? "FWT force" : "FWT begin",
                         {{"module", CWirelessModule::ModeName(m_Context.Module().GetMode())}});
        if (force && !downloader)
            transcript.Event("router", m_nConn, "FWT force while the module is not in its downloader");
    } else {
        transcript.Violation("tcp", m_nConn, "control packet of unknown kind", p, n);
    }
}

size_t CTcpSession::ImageData(const uint8_t* data, size_t length)
{
    size_t take = std::min<size_t>(length, m_nImageLength - m_nImageReceived);
    const CFaultTable& faults = m_Context.Config().faults;
    bool reset = false;
    if (faults.Has(Fault::ResetDuringData)) {
        const uint32_t cut = faults.Number(Fault::ResetDuringData);
        if (m_nImageReceived + take >= cut) {
            take = cut > m_nImageReceived ? cut - m_nImageReceived : 0;
            reset = true;
        }
    }
    if (m_ImageHead.size() < SampleImage::ROUTER_CONTAINER_SIZE) {
        const size_t head = std::min(take, SampleImage::ROUTER_CONTAINER_SIZE - m_ImageHead.size());
        m_ImageHead.insert(m_ImageHead.end(), data, data + head);
    }
    // The checksum and the digest are for the transcript alone: without one, the image data
    // cost the router nothing but their reading, so that the tool's own rate shows.
    if (m_Context.Transcript().IsOpen()) {
        m_Context.Transcript().Message(
            "tcp", "in", m_nConn,
            {{"kind", "image-data"}, {"offset", m_nImageReceived}, {"crc", Crc16Compute(data, take)}}, data, take);
        m_nImageDigest = CBlockMemory::DigestMore(m_nImageDigest, data, take);
    }
    m_nImageReceived += static_cast<uint32_t>(take);
    if (reset) {
        m_Context.Transcript().Event("tcp", m_nConn, "connection reset during image data (fault)",
                                     {{"received", m_nImageReceived}});
        m_bReset = true;
        return length;
    }
    if (m_nImageReceived == m_nImageLength) {
        m_State = State::Flashing;
        m_nResultDue = GetTickCount() + m_Context.Config().flashTimeMs;
        m_Context.Transcript().Event("router", m_nConn, "image data complete, flashing",
                                     {{"length", m_nImageLength},
                                      {"digest", CBlockMemory::DigestText(m_nImageDigest)}});
    }
    return take;
}

void CTcpSession::Tick(uint32_t now)
{
    if (m_State == State::Flashing && static_cast<int32_t>(now - m_nResultDue) >= 0)
        SendResult();
    ReleaseDue(now);
}

int64_t CTcpSession::MsUntilNextEvent(uint32_t now) const
{
    int64_t next = -1;
    auto consider = [&](uint32_t due) {
        const int32_t left = static_cast<int32_t>(due - now);
        const int64_t wait = left < 0 ? 0 : left;
        next = next < 0 ? wait : std::min(next, wait);
    };
    if (m_State == State::Flashing)
        consider(m_nResultDue);
    if (!m_Delayed.empty())
        consider(m_Delayed.front().due);
    return next;
}

void CTcpSession::Queue(std::vector<uint8_t> frame, uint32_t delayMs)
{
    if (delayMs == 0 && m_Delayed.empty()) {
        Send(frame.data(), frame.size());
        return;
    }
    // Never before a frame queued earlier: the channel keeps their order.
    uint32_t due = GetTickCount() + delayMs;
    if (!m_Delayed.empty() && static_cast<int32_t>(m_Delayed.back().due - due) > 0)
        due = m_Delayed.back().due;
    m_Delayed.push_back(Delayed{due, std::move(frame)});
}

void CTcpSession::ReleaseDue(uint32_t now)
{
    size_t released = 0;
    while (released < m_Delayed.size() && static_cast<int32_t>(now - m_Delayed[released].due) >= 0) {
        Send(m_Delayed[released].bytes.data(), m_Delayed[released].bytes.size());
        ++released;
    }
    m_Delayed.erase(m_Delayed.begin(), m_Delayed.begin() + static_cast<std::ptrdiff_t>(released));
}

void CTcpSession::SendResult()
{
    m_State = State::Frames;
    const CFaultTable& faults = m_Context.Config().faults;
    if (faults.Has(Fault::NoResult)) {
        m_Context.Transcript().Event("router", m_nConn, "result packet withheld (fault no-result)");
        return;
    }
    const uint32_t value = faults.Has(Fault::ResultValue) ? faults.Number(Fault::ResultValue)
                                                          : ControlPacket::ROUTER_RESULT_OK;
    const auto packet = ControlPacket::BuildResult(value);
    if (value == ControlPacket::ROUTER_RESULT_OK) {
        std::string version;
        const size_t size = m_ImageHead.size();
        if (size >= SampleImage::ROUTER_CONTAINER_SIZE &&
            SampleImage::ReadRouterSampleVersion(m_ImageHead.data(), size, version))
            m_Context.RouterImageFlashed(ReadLe32(m_ImageHead.data() + ROUTER_KIND_BITS_OFFSET), version);
        else
            m_Context.Transcript().Event("router", m_nConn, "image without a container header: versions unchanged");
    }
    m_Context.Transcript().Event("router", m_nConn, "result",
                                 {{"value", value},
                                  {"length", m_nImageLength},
                                  {"digest", CBlockMemory::DigestText(m_nImageDigest)}});
    SendFrame(packet.data(), packet.size());
}

void CTcpSession::SendFrame(const uint8_t* payload, size_t length, uint32_t extraDelayMs)
{
    std::vector<uint8_t> frame(HdlcMaxFrameLength(static_cast<uint32_t>(length)));
    const uint32_t number = m_Context.NextTcpFrameNumber();
    const CFaultTable& faults = m_Context.Config().faults;
    if (faults.HitsNumber(Fault::DropFrame, number)) {
        m_Context.Transcript().Message("tcp", "lost", m_nConn,
                                       {{"kind", "frame"},
                                        {"answer", DiagRequestName::Of({payload, length})},
                                        {"fault", CFaultTable::Describe(Fault::DropFrame).name}},
                                       payload, length);
        return;
    }
    const bool corrupt = faults.HitsNumber(Fault::CorruptFcs, number);
    CHdlcFrameWriter writer(frame);
    writer.Begin(true);
    writer.Append(payload, static_cast<uint32_t>(length));
    writer.Finish(corrupt ? CHdlcFrameWriter::Fcs::Corrupted : CHdlcFrameWriter::Fcs::Correct);
    const uint32_t pos = writer.Length();
    frame.resize(pos);
    const uint32_t delay = m_Context.DrawLatency() + extraDelayMs;
    nlohmann::json fields = {{"kind", "frame"},
                             {"answer", DiagRequestName::Of({payload, length})},
                             {"frame_length", pos}};
    if (corrupt)
        fields["fault"] = CFaultTable::Describe(Fault::CorruptFcs).name;
    if (delay != 0)
        fields["delay"] = delay;
    m_Context.Transcript().Message("tcp", "out", m_nConn, fields, payload, length);
    Queue(std::move(frame), delay);
}
