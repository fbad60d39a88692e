#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/HdlcBytes.h"
#include "tests/support/Loopback.h"

namespace kivtest {

// A TCP peer on 127.0.0.1 (port bound to 0 and read back) that stands in for the router.
// It serves one connection at a time on a thread of its own; a newer connection replaces an
// older one. It keeps every byte it receives (raw capture, all connections), cuts the stream
// into HDLC frames and, when asked, into lines, and answers through the handlers below. The
// handlers run on the peer's thread; what they return is sent from there.
class TcpPeer {
public:
    // Decoded payload of each good frame -> raw byte strings to send, each with its own send.
    using FrameResponder = std::function<std::vector<Bytes>(const Bytes& payload)>;
    // What to answer a line with; `close` ends the connection after `text` was sent.
    struct LineAnswer {
        std::string text;
        bool close = false;
    };
    // Each line received (cut at LF, a CR before it removed) -> the answer.
    using LineResponder = std::function<LineAnswer(const std::string& line)>;
    // Called for every accepted connection; returns what to send first (may be empty).
    using ConnectHandler = std::function<std::string()>;

    TcpPeer();
    ~TcpPeer();
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    uint16_t Port() const { return m_nPort; }

    // False: nothing received is kept (Received() and Frames() stay empty), for a peer that
    // answers frames without end (a benchmark).
    void SetKeepReceived(bool keep);
    void SetFrameResponder(FrameResponder responder);
    void SetLineResponder(LineResponder responder);
    void SetConnectHandler(ConnectHandler handler);

    // True once a connection is open (within `waitMs` real ms).
    bool WaitConnected(int waitMs = GUARD_MS);
    // Connections accepted so far.
    int Connections();
    // Sends raw bytes on the current connection (waiting for one first).
    bool Send(const Bytes& raw);

    // Every byte received so far.
    Bytes Received();
    // The payload of every good frame received so far.
    std::vector<Bytes> Frames();
    bool WaitFrames(size_t count, int waitMs = GUARD_MS);
    bool WaitRawBytes(size_t count, int waitMs = GUARD_MS);

private:
    void Run();
    void Accept();
    void Receive();
    // Cuts `count` bytes into frames and lines; collects the answers into `out`.
    void OnBytesLocked(const uint8_t* bytes, size_t count, std::vector<std::string>& out, bool& close);
    void OnFrameByteLocked(uint8_t byte, std::vector<std::string>& out);
    void OnLineByteLocked(uint8_t byte, std::vector<std::string>& out, bool& close);
    bool SendOnConnection(const std::string& bytes);
    void CloseConnection();

    CSocketHandle m_Listen;
    uint16_t m_nPort = 0;
    StopSignal m_Stop;

    std::mutex m_SendLock; // held while the connection is used for sending or replaced
    std::mutex m_Mutex;    // everything below
    std::condition_variable m_Cond;
    CSocketHandle m_Client;
    int m_nConnections = 0;
    bool m_bKeep = true;
    FrameResponder m_FrameResponder;
    LineResponder m_LineResponder;
    ConnectHandler m_ConnectHandler;
    Bytes m_Raw;
    Bytes m_Pending;
    std::string m_Line;
    std::vector<Bytes> m_Frames;

    std::thread m_Thread;
};

} // namespace kivtest
