#include "diag/CHdlcAdapter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "diag/CHdlcFrameCollector.h"
#include "log/ErrorText.h"
#include "net/CTcpPort.h"
#include "net/CUdpPort.h"
#include "platform/CDeadline.h"
#include "platform/Clock.h"
#include "platform/Trace.h"
#include "wire/HdlcFraming.h"

namespace {

constexpr uint32_t OPEN_PAUSE_MS = 100;
constexpr uint32_t START_PAUSE_MS = 100;
constexpr uint32_t DIRECT_BYTE_TIMEOUT_MS = 500;
constexpr uint32_t DIRECT_IDLE_PAUSE_MS = 100;
// A UDP port ignores Purge, so its reader reads in short slices to see the stop flag.
constexpr uint32_t UNPURGEABLE_READ_SLICE_MS = 100;
// A datagram port delivers whole datagrams (a one-byte read would truncate and lose the
// rest), so it is read into a buffer that holds any datagram and fed to the collector byte
// by byte. A stream port is read one byte per call.
constexpr uint32_t DATAGRAM_BUFFER_SIZE = 65536;

bool IsStreamPort(INetPort* port) { return port->GetPortType() == INetPort::PORT_TYPE_TCP; }

} // namespace

CHdlcAdapter::CHdlcAdapter() = default;

CHdlcAdapter::~CHdlcAdapter() { Close(); }

INetPort* CHdlcAdapter::Port() { return m_pPort.load(std::memory_order_acquire); }

bool CHdlcAdapter::Open(const std::string& address, uint16_t port, int portType)
{
    if (Port() != nullptr) {
        Close();
        Sleep(OPEN_PAUSE_MS);
    }
    if (!CreateNetPort(address, port, portType)) {
        m_State.exchange(STATE_CLOSED);
        return false;
    }
    m_State.exchange(STATE_OPEN);
    return true;
}

bool CHdlcAdapter::CreateNetPort(const std::string& address, uint16_t port, int portType)
{
    if (Port() != nullptr)
        Close();
    INetPort* created = nullptr;
    if (portType == INetPort::PORT_TYPE_UDP) {
        auto* udp = new (std::nothrow) CUdpPort();
        if (udp != nullptr)
            udp->SetInterface(m_strInterface);
        created = udp;
    } else if (portType == INetPort::PORT_TYPE_TCP) {
        auto* tcp = new (std::nothrow) CTcpPort();
        if (tcp != nullptr) {
            tcp->SetInterface(m_strInterface);
            tcp->SetConnectTimeout(m_nConnectTimeoutMs);
            tcp->SetCancelHandle(m_pCancel.load());
        }
        created = tcp;
    }
    if (created == nullptr)
        return false;
    if (created->SetConfig(address, port) && created->Open()) {
        m_pPort.store(created, std::memory_order_release);
        return true;
    }
    Trace("CreateNetPort> %s", GetErrorText(created->LastError()).c_str());
    delete created;
    m_pPort.store(nullptr, std::memory_order_release);
    return false;
}

void CHdlcAdapter::SetCancelHandle(const CWsaEvent* stop)
{
    m_pCancel.store(stop);
    if (auto* tcp = dynamic_cast<CTcpPort*>(Port()))
        tcp->SetCancelHandle(stop);
}

bool CHdlcAdapter::Close()
{
    CSingleLock lock(&m_Lock, true);
    bool result = true;
    INetPort* port = Port();
    if (port != nullptr) {
        StopReader();
        result = port->Close();
        m_pPort.store(nullptr, std::memory_order_release);
        delete port;
    }
    if (result)
        m_State.exchange(STATE_CLOSED);
    return result;
}

bool CHdlcAdapter::StartReader()
{
    if (m_pReaderThread != nullptr)
        return true;
    m_StopFlag.exchange(0);
    m_ReaderExited.Reset();
    try {
        m_pReaderThread = std::make_unique<std::thread>(&CHdlcAdapter::ReaderThreadProc, this);
    } catch (...) {
        m_pReaderThread.reset();
        return false;
    }
    Sleep(START_PAUSE_MS);
    return true;
}

bool CHdlcAdapter::StopReader()
{
    if (m_pReaderThread == nullptr)
        return true;
    m_StopFlag.exchange(1);
    INetPort* port = Port();
    if (port != nullptr)
        port->Purge();
    if (!m_ReaderExited.Wait(STOP_WAIT_MS) && port != nullptr) {
        // The reader sits in a read that ignored the purge: end that read by taking the
        // socket away under it (both ports wake a waiting read when they do), never by
        // killing the thread.
        Trace("CHdlcAdapter::StopReader> reader still running, shutting the socket down\n");
        if (auto* tcp = dynamic_cast<CTcpPort*>(port))
            tcp->Shutdown();
        else
            port->Close();
    }
    std::unique_ptr<std::thread> thread = std::move(m_pReaderThread);
    if (thread->joinable())
        thread->join();
    m_StopFlag.exchange(0);
    return true;
}

void CHdlcAdapter::ReaderThreadProc()
{
    ReaderLoop();
    m_ReaderExited.Set();
}

void CHdlcAdapter::ReaderLoop()
{
    CHdlcFrameCollector collector;
    std::unique_ptr<uint8_t[]> datagram;
    while (m_StopFlag.load() == 0) {
        INetPort* port = Port();
        if (port == nullptr)
            break;
        uint8_t byte = 0;
        uint8_t* buffer = &byte;
        uint32_t size = 1;
        uint32_t timeout = INFINITE;
        if (!IsStreamPort(port)) {
            if (datagram == nullptr)
                datagram.reset(new (std::nothrow) uint8_t[DATAGRAM_BUFFER_SIZE]);
            if (datagram == nullptr)
                break;
            buffer = datagram.get();
            size = DATAGRAM_BUFFER_SIZE;
            timeout = UNPURGEABLE_READ_SLICE_MS;
        }
        uint32_t count = 0;
        if (!port->Read(buffer, size, &count, timeout) || count == 0) {
            // A datagram port fails at once before its first send (not bound yet) and
            // never pauses by itself: keep such a failure from spinning.
            if (!IsStreamPort(port) && port->LastError() != WaitCode::TimedOut)
                Sleep(UNPURGEABLE_READ_SLICE_MS);
            continue;
        }
        for (uint32_t i = 0; i < std::min(count, size); ++i) {
            if (collector.Push(buffer[i]) == CHdlcFrameCollector::Result::Frame)
                m_Responses.Store(collector.Payload(), collector.PayloadLength());
        }
    }
}

bool CHdlcAdapter::EnsureWriteBuffer()
{
    if (m_pWriteBuffer == nullptr) {
        m_pWriteBuffer.reset(new (std::nothrow) uint8_t[WRITE_BUFFER_SIZE]);
        if (m_pWriteBuffer == nullptr) {
            Trace("CHdlcAdapter::Write> First Alloc Write Buffer Fail\n");
            return false;
        }
    }
    return true;
}

uint8_t* CHdlcAdapter::WriteBuffer() { return EnsureWriteBuffer() ? m_pWriteBuffer.get() : nullptr; }

bool CHdlcAdapter::Write(WriteAs as, const void* bytes, uint32_t length, uint32_t timeoutMs)
{
    INetPort* port = Port();
    if (m_State.load() != STATE_OPEN || port == nullptr)
        return false;
    if (bytes == nullptr && length != 0)
        return false;
    bool sent = false;
    if (as != WriteAs::Raw) {
        if (length > MAX_FRAMED_PAYLOAD) {
            Trace("CHdlcAdapter::Write> payload of %u bytes does not fit the write buffer\n", length);
            return false;
        }
        if (!EnsureWriteBuffer())
            return false;
        m_WriteLength = HdlcEncode(static_cast<const uint8_t*>(bytes), length,
                                   {m_pWriteBuffer.get(), WRITE_BUFFER_SIZE}, as == WriteAs::FlaggedFrame ? 1 : 0);
        if (m_WriteLength == 0)
            return false;
        sent = port->Write(m_pWriteBuffer.get(), m_WriteLength, timeoutMs);
    } else {
        sent = port->Write(bytes, length, timeoutMs);
    }
    if (!sent)
        Trace("CHdlcAdapter::Write> %s", GetErrorText(port->LastError()).c_str());
    return sent;
}

bool CHdlcAdapter::Read(uint8_t* destination, uint32_t capacity, uint32_t* outLength, uint32_t ignored,
                        uint32_t timeoutMs)
{
    (void)ignored;
    if (m_State.load() != STATE_OPEN || Port() == nullptr)
        return false;
    if (outLength != nullptr)
        *outLength = 0;
    if (m_pReaderThread != nullptr)
        return m_Responses.WaitResponse(destination, capacity, outLength, timeoutMs);
    return DirectRead(destination, capacity, outLength, timeoutMs);
}

bool CHdlcAdapter::DirectRead(uint8_t* destination, uint32_t capacity, uint32_t* outLength, uint32_t timeoutMs)
{
    const CDeadline deadline(timeoutMs);
    CHdlcFrameCollector collector;
    std::unique_ptr<uint8_t[]> datagram;
    for (;;) {
        if (deadline.Passed())
            return false;
        INetPort* port = Port();
        if (port == nullptr)
            return false;
        uint8_t byte = 0;
        uint8_t* buffer = &byte;
        uint32_t size = 1;
        if (!IsStreamPort(port)) {
            if (datagram == nullptr)
                datagram.reset(new (std::nothrow) uint8_t[DATAGRAM_BUFFER_SIZE]);
            if (datagram == nullptr)
                return false;
            buffer = datagram.get();
            size = DATAGRAM_BUFFER_SIZE;
        }
        uint32_t count = 0;
        if (!port->Read(buffer, size, &count, DIRECT_BYTE_TIMEOUT_MS) || count == 0) {
            Sleep(DIRECT_IDLE_PAUSE_MS);
            continue;
        }
        for (uint32_t i = 0; i < std::min(count, size); ++i) {
            switch (collector.Push(buffer[i])) {
            case CHdlcFrameCollector::Result::None: break;
            case CHdlcFrameCollector::Result::BadFrame: return false;
            case CHdlcFrameCollector::Result::Frame: {
                const uint32_t copied = std::min(collector.PayloadLength(), capacity);
                if (destination != nullptr && copied != 0)
                    std::memcpy(destination, collector.Payload(), copied);
                if (outLength != nullptr)
                    *outLength = destination != nullptr ? copied : 0;
                return true;
            }
            }
        }
    }
}

std::error_code CHdlcAdapter::GetLastPortError()
{
    INetPort* port = Port();
    return port != nullptr ? port->LastError() : std::error_code();
}
