// The TCP channel: router transfer and the wireless module's DIAG and downloader commands,
// driven through CHdlcAdapter and CDiagCaller as the upgrade engine drives them.

#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "diag/CDiagCaller.h"
#include "diag/CHdlcAdapter.h"
#include "diag/CUdpHdlc.h"
#include "images/CSampleImage.h"
#include "images/PartHeader.h"
#include "log/CDownloadLog.h"
#include "platform/ByteOrder.h"
#include "platform/CUniqueFd.h"
#include "tests/support/ImageParts.h"
#include "tests/support/LogText.h"
#include "tests/support/Loopback.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TestImages.h"
#include "tests/support/Wait.h"
#include "wire/HdlcFraming.h"

using namespace kivtest;

namespace {

constexpr uint32_t FIRMWARE_BASE = 0x00100000;

class SimChannelTest : public SimFixture {
protected:
    // A module that restarts in 6 s and a router that flashes in 1 s (scaled).
    void SetUp() override
    {
        SimFixture::SetUp();
        m_Config.restartTimeMs = 6000;
        m_Config.flashTimeMs = 1000;
    }

    void TearDown() override
    {
        m_Adapter.Close();
        SimFixture::TearDown();
    }

    void Connect()
    {
        ASSERT_TRUE(m_Adapter.Open("127.0.0.1", m_pSim->RouterPort(), INetPort::PORT_TYPE_TCP));
        ASSERT_TRUE(m_Adapter.StartReader());
    }

    bool HandShake(int leading, int& forceLoad, int& offline)
    {
        return m_Diag.DIAG_HandShake(leading, &forceLoad, &offline);
    }

    bool Record(uint8_t type, uint32_t timeoutMs = 2000)
    {
        CUdpHdlc udp(LOOPBACK_IP, m_pSim->RouterPort());
        udp.m_Request.SetType(type);
        udp.m_Request.SetIp(LOOPBACK_IP);
        udp.m_Request.SetMac(m_Config.mac.data());
        return udp.Exchange(timeoutMs);
    }

    // Probes until the router answers (the module is up), within `limitMs` scaled ms.
    bool WaitReady(uint32_t limitMs)
    {
        const uint32_t start = GetTickCount();
        while (TicksSince(start) < limitMs)
            if (Record(UDP_READY_PROBE, 500))
                return true;
        return false;
    }

    void ControlPacket(const char* text, uint32_t value)
    {
        uint8_t packet[40] = {0xFF};
        std::memcpy(packet + 1, text, 29);
        WriteLe32(packet + 30, value);
        ASSERT_TRUE(m_Adapter.Write(CHdlcAdapter::WriteAs::FlaggedFrame, packet, sizeof packet, 3000));
    }

    bool WriteBlock(uint32_t address, const uint8_t* data, uint32_t length)
    {
        std::vector<uint8_t> request{0x0F,
                                     uint8_t(address >> 24),
                                     uint8_t(address >> 16),
                                     uint8_t(address >> 8),
                                     uint8_t(address),
                                     uint8_t(length >> 8),
                                     uint8_t(length)};
        request.insert(request.end(), data, data + length);
        const uint32_t frameLength = HdlcEncode(request.data(), static_cast<uint32_t>(request.size()),
                                                {m_Adapter.WriteBuffer(), CHdlcAdapter::WRITE_BUFFER_SIZE}, 1);
        const uint8_t ack[5] = {0x02, request[1], request[2], request[3], request[4]};
        m_Adapter.Responses().SetMatchPattern(ack, 5);
        return m_Diag.DIAG_Write(frameLength);
    }

    bool WriteUnit(uint32_t address, const std::vector<uint8_t>& data)
    {
        for (size_t at = 0; at < data.size(); at += 4096) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(4096, data.size() - at));
            if (!WriteBlock(address + static_cast<uint32_t>(at), data.data() + at, n))
                return false;
        }
        return true;
    }

    bool Unlock(const char* code) { return m_Diag.DIAG_Unlock(reinterpret_cast<const uint8_t*>(code)); }

    // A module held in its downloader with `fault`, connected and unlocked.
    void StartUnlocked(const std::string& fault)
    {
        AddFault(fault);
        m_Config.forceLoad = true;
        StartSim();
        Connect();
        ASSERT_TRUE(Unlock("FWA00001"));
    }

    std::string Log() const { return m_Log.GetPending(); }

    CDownloadLog m_Log{""};
    CHdlcAdapter m_Adapter;
    CDiagCaller m_Diag{&m_Adapter, &m_Log};
};

TEST_F(SimChannelTest, FirmwareUpgradeRoundTrip)
{
    StartSim();
    Connect();
    int forceLoad = -1, offline = -1;
    ASSERT_TRUE(HandShake(0, forceLoad, offline));
    EXPECT_EQ(0, forceLoad);
    EXPECT_EQ(0, offline);
    std::string version;
    ASSERT_TRUE(m_Diag.DIAG_QueryBoardVersion(&version));
    EXPECT_EQ(m_Config.firmwareVersion, version);
    ASSERT_TRUE(m_Diag.DIAG_QueryISOVersion(&version));
    EXPECT_EQ(m_Config.dashboardVersion, version);

    ASSERT_TRUE(m_Diag.DIAG_NV_BackupRestore(1));
    ASSERT_TRUE(m_Diag.DIAG_ChangeMode(1));
    ASSERT_TRUE(HandShake(0, forceLoad, offline));
    EXPECT_EQ(1, offline);
    ControlPacket("Varoni FWT Begin Download Pkt", 0);
    ASSERT_TRUE(m_Diag.DIAG_SwitchToDownloader());
    EXPECT_FALSE(Record(UDP_READY_PROBE, 300)); // restarting into the downloader
    ASSERT_TRUE(WaitReady(20000));
    ASSERT_TRUE(HandShake(1, forceLoad, offline));
    EXPECT_EQ(1, forceLoad);

    EXPECT_FALSE(Unlock("WRONG001"));
    ASSERT_TRUE(Unlock("FWA00001"));
    std::vector<uint8_t> part0 = SampleImage::MakeWirelessData("11.608.13.02.00", PatternBytes(9000, 1));
    ASSERT_TRUE(WriteUnit(FIRMWARE_BASE, part0));
    ASSERT_TRUE(WriteUnit(FIRMWARE_BASE + 0x400000, PatternBytes(4096, 2)));
    ASSERT_TRUE(WriteUnit(FIRMWARE_BASE + 0x800000, PatternBytes(77, 3)));
    ASSERT_TRUE(m_Diag.DIAG_Reset());

    EXPECT_FALSE(Record(UDP_READY_PROBE, 300));
    ASSERT_TRUE(WaitReady(20000));
    ASSERT_TRUE(HandShake(0, forceLoad, offline));
    EXPECT_EQ(0, forceLoad);
    ASSERT_TRUE(m_Diag.DIAG_QueryBoardVersion(&version));
    EXPECT_EQ("11.608.13.02.00", version);
    ASSERT_TRUE(m_Diag.DIAG_NV_QueryRestoreStatus());
    EXPECT_NE(std::string::npos, Log().find("Restore Success"));
    EXPECT_EQ(0u, m_pSim->ViolationCount()) << Log();

    // The transcript tells the story: every record is stamped, every message dumped.
    m_pSim->Stop();
    size_t writes = 0;
    for (const auto& record : Transcript()) {
        ASSERT_TRUE(record.contains("time") && record.contains("tick") && record.contains("proto"));
        if (record["dir"] != "-") {
            EXPECT_TRUE(record.contains("hex") && record.contains("length")) << record.dump();
        }
        if (record.value("request", "") == "block-write")
            ++writes;
    }
    EXPECT_EQ(5u, writes); // three blocks, one, one
    const auto complete = Find("event", "image complete");
    ASSERT_EQ(1u, complete.size());
    EXPECT_EQ("firmware", complete[0]["image"]);
    // What went where, as extents with the digests of their bytes.
    const auto& extents = complete[0]["extents"];
    ASSERT_EQ(3u, extents.size());
    EXPECT_EQ(FIRMWARE_BASE, extents[0]["address"]);
    EXPECT_EQ(part0.size(), extents[0]["length"]);
    EXPECT_EQ(Fnv1aDigest(part0), extents[0]["digest"]);
    EXPECT_EQ(77u, extents[2]["length"]);
}

TEST_F(SimChannelTest, IncompleteDashboardKeepsOldVersion)
{
    m_Config.forceLoad = true;
    StartSim();
    Connect();
    int forceLoad = 0, offline = 0;
    ASSERT_TRUE(HandShake(1, forceLoad, offline));
    EXPECT_EQ(1, forceLoad);
    ControlPacket("Varoni FWT Force Download Pkt", 0);
    ASSERT_TRUE(Unlock("DASHA001"));
    // Data without the version marker: not an image the module can start from.
    ASSERT_TRUE(WriteUnit(FIRMWARE_BASE, PatternBytes(5000, 9)));
    EXPECT_TRUE(Record(UDP_LEAVE_FORCE_LOAD));
    ASSERT_TRUE(m_Diag.DIAG_Reset());
    ASSERT_TRUE(WaitReady(20000));
    ASSERT_TRUE(HandShake(0, forceLoad, offline));
    EXPECT_EQ(0, forceLoad);
    std::string version;
    ASSERT_TRUE(m_Diag.DIAG_QueryISOVersion(&version));
    EXPECT_EQ(m_Config.dashboardVersion, version);
}

TEST_F(SimChannelTest, DownloaderRefusesWhatItMustRefuse)
{
    m_Config.regionSize = 0x01000000;
    StartSim();
    Connect();
    const std::vector<uint8_t> data = PatternBytes(64, 4);
    EXPECT_FALSE(WriteBlock(FIRMWARE_BASE, data.data(), 64)); // normal firmware: five NAKs
    EXPECT_NE(std::string::npos, Log().find("DIAG_Write#5> Exec Fail"));
    ASSERT_TRUE(Record(UDP_ENTER_FORCE_LOAD));
    EXPECT_FALSE(WriteBlock(FIRMWARE_BASE, data.data(), 64)); // not unlocked
    ASSERT_TRUE(Unlock("FWA00001"));
    EXPECT_FALSE(WriteBlock(0x01000000, data.data(), 64)); // outside the region
    EXPECT_TRUE(WriteBlock(0x00FFFFC0, data.data(), 64));  // its last bytes
    EXPECT_EQ(15u, m_pSim->ViolationCount());
}

TEST_F(SimChannelTest, BlockFaultsAreRetriedByTheTool)
{
    AddFault("nak-block=2");
    AddFault("drop-block-ack=4");
    m_Config.forceLoad = true;
    StartSim();
    Connect();
    ASSERT_TRUE(Unlock("FWB00001"));
    ASSERT_TRUE(WriteUnit(FIRMWARE_BASE, PatternBytes(3 * 4096, 5)));
    EXPECT_NE(std::string::npos, Log().find("DIAG_Write#1> Exec Fail"));
    EXPECT_NE(std::string::npos, Log().find("DIAG_Write#1> Read Fail"));
    EXPECT_EQ(0u, m_pSim->ViolationCount());
}

TEST_F(SimChannelTest, HandShakeFaultsAndCorruptFcs)
{
    AddFault("corrupt-fcs=1");
    AddFault("unlock-refused=1");
    StartSim();
    Connect();
    int forceLoad = 0, offline = 0;
    ASSERT_TRUE(HandShake(0, forceLoad, offline)); // first answer dropped by the client
    EXPECT_NE(std::string::npos, Log().find("Execute#1> Read Fail"));
    ASSERT_TRUE(Record(UDP_ENTER_FORCE_LOAD));
    ASSERT_TRUE(Unlock("FWA00001")); // refused once, then accepted on the second try
    EXPECT_NE(std::string::npos, Log().find("Execute#1> (03 00 01)"));
}

TEST_F(SimChannelTest, NoHandShakeUntilForceLoad)
{
    AddFault("no-handshake");
    StartSim();
    Connect();
    int forceLoad = 0, offline = 0;
    EXPECT_FALSE(HandShake(0, forceLoad, offline));
    ASSERT_TRUE(Record(UDP_ENTER_FORCE_LOAD));
    ASSERT_TRUE(HandShake(1, forceLoad, offline));
    EXPECT_EQ(1, forceLoad);
}

TEST_F(SimChannelTest, IgnoredRequestsNeverComplete)
{
    AddFault("no-answer=board-version,reset");
    StartSim();
    Connect();
    std::string version;
    EXPECT_FALSE(m_Diag.DIAG_QueryBoardVersion(&version));
    EXPECT_EQ("Failed to read", version);
    EXPECT_NE(std::string::npos, Log().find("Execute#5> Read Fail"));
    ASSERT_TRUE(Record(UDP_ENTER_FORCE_LOAD));
    EXPECT_FALSE(m_Diag.DIAG_Reset());
    int forceLoad = 0, offline = 0;
    ASSERT_TRUE(HandShake(1, forceLoad, offline));
    EXPECT_EQ(1, forceLoad); // the reset was not acted on either
}

TEST_F(SimChannelTest, RestartFaults)
{
    AddFault("still-in-downloader");
    AddFault("nv-restore-fail");
    m_Config.forceLoad = true;
    StartSim();
    Connect();
    EXPECT_FALSE(m_Diag.DIAG_NV_BackupRestore(0));
    ASSERT_TRUE(Record(UDP_LEAVE_FORCE_LOAD));
    ASSERT_TRUE(m_Diag.DIAG_Reset());
    ASSERT_TRUE(WaitReady(20000));
    int forceLoad = 0, offline = 0;
    ASSERT_TRUE(HandShake(0, forceLoad, offline));
    EXPECT_EQ(1, forceLoad);
    m_Adapter.Close();
    StopSim();

    m_Config.faults = CFaultTable();
    AddFault("module-not-back");
    AddFault("nv-restore-fail");
    m_Config.forceLoad = false;
    StartSim();
    Connect();
    EXPECT_FALSE(m_Diag.DIAG_NV_QueryRestoreStatus());
    ASSERT_TRUE(Record(UDP_ENTER_FORCE_LOAD));
    ASSERT_TRUE(m_Diag.DIAG_Reset());
    EXPECT_FALSE(WaitReady(8000));
}

TEST_F(SimChannelTest, ConnectionsBeyondTheLimitAreClosed)
{
    m_Config.maxConnections = 3;
    StartSim();
    auto connect = [this] {
        CUniqueFd fd(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(m_pSim->RouterPort());
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(0, ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa));
        timeval tv{2, 0};
        setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        return fd;
    };
    std::vector<CUniqueFd> idle;
    for (int i = 0; i < 3; ++i)
        idle.push_back(connect()); // half-open: they never send anything
    CUniqueFd extra = connect();
    char byte = 0;
    EXPECT_EQ(0, recv(extra.Get(), &byte, 1, 0)); // closed by the router at once
    idle.pop_back();
    // A slot is free again once the router has seen the close.
    EXPECT_TRUE(WaitFor([&] {
        m_Adapter.Close();
        Connect();
        int forceLoad = 0, offline = 0;
        return m_Diag.DIAG_HandShake(0, &forceLoad, &offline);
    }));
}

TEST_F(SimChannelTest, RouterTransferUpdatesVersion)
{
    StartSim();
    Connect();
    m_Adapter.StopReader();
    const std::vector<uint8_t> data =
        SampleImage::MakeRouterData(RouterKindBits(IMG_APP), "2.1.7.1", PatternBytes(10000, 6));
    ControlPacket("Varoni RUT Begin Download Pkt", static_cast<uint32_t>(data.size()));
    ASSERT_TRUE(m_Adapter.Write(CHdlcAdapter::WriteAs::Raw, data.data(), 7300, 3000));
    ASSERT_TRUE(m_Adapter.Write(CHdlcAdapter::WriteAs::Raw, data.data() + 7300,
                                static_cast<uint32_t>(data.size() - 7300), 3000));
    ASSERT_TRUE(m_Adapter.StartReader());
    const uint8_t ff = 0xFF;
    m_Adapter.Responses().SetMatchPattern(&ff, 1);
    uint8_t result[512] = {};
    uint32_t length = 0;
    ASSERT_TRUE(m_Adapter.Read(result, sizeof result, &length, 0, 8000));
    ASSERT_EQ(40u, length);
    EXPECT_EQ(4u, ReadLe32(result + 30));
    const auto results = Find("event", "result");
    ASSERT_EQ(1u, results.size());
    EXPECT_EQ(data.size(), results[0]["length"]);
    EXPECT_EQ(Fnv1aDigest(data), results[0]["digest"]);

    CUdpHdlc udp(LOOPBACK_IP, m_pSim->RouterPort());
    uint8_t mac[6], ip[4];
    std::string text;
    ASSERT_TRUE(udp.Discover(mac, ip, &text));
    EXPECT_EQ("2.1.7.1", text);
    EXPECT_EQ(0u, m_pSim->ViolationCount());
}

TEST_F(SimChannelTest, RouterTransferFaults)
{
    AddFault("result-value=9");
    StartSim();
    Connect();
    m_Adapter.StopReader();
    const std::vector<uint8_t> data = PatternBytes(100, 7);
    ControlPacket("Varoni RUT Begin Download Pkt", 90);
    ASSERT_TRUE(m_Adapter.Write(CHdlcAdapter::WriteAs::Raw, data.data(), 100, 3000)); // ten bytes too many
    ASSERT_TRUE(m_Adapter.StartReader());
    const uint8_t ff = 0xFF;
    m_Adapter.Responses().SetMatchPattern(&ff, 1);
    uint8_t result[512] = {};
    uint32_t length = 0;
    ASSERT_TRUE(m_Adapter.Read(result, sizeof result, &length, 0, 8000));
    EXPECT_EQ(9u, ReadLe32(result + 30));
    EXPECT_EQ(1u, m_pSim->ViolationCount());
    m_Adapter.Close();
    StopSim();

    m_Config.faults = CFaultTable();
    AddFault("reset-during-data=50");
    StartSim();
    Connect();
    m_Adapter.StopReader();
    ControlPacket("Varoni RUT Begin Download Pkt", 100);
    m_Adapter.Write(CHdlcAdapter::WriteAs::Raw, data.data(), 100, 3000);
    m_Adapter.Responses().SetMatchPattern(&ff, 1);
    EXPECT_FALSE(m_Adapter.Read(result, sizeof result, &length, 0, 3000));
    m_Adapter.Close();
    StopSim();
    EXPECT_EQ(1u, Find("event", "connection reset").size());
}

// Latency ------------------------------------------------------------------------------

TEST_F(SimChannelTest, LatencyDelaysEveryAnswer)
{
    m_Config.latencyMinMs = 400;
    m_Config.latencyMaxMs = 400;
    StartSim();
    Connect();
    int forceLoad = 0, offline = 0;
    uint32_t start = GetTickCount();
    ASSERT_TRUE(HandShake(0, forceLoad, offline));
    EXPECT_GE(TicksSince(start), 400u);
    start = GetTickCount();
    ASSERT_TRUE(Record(UDP_READY_PROBE));
    EXPECT_GE(TicksSince(start), 400u);
}

// Faults of the soak -------------------------------------------------------------------

TEST_F(SimChannelTest, DroppedFrameNeverLeaves)
{
    AddFault("drop-frame=1");
    StartSim();
    Connect();
    int forceLoad = 0, offline = 0;
    ASSERT_TRUE(HandShake(0, forceLoad, offline)); // the first answer is lost, the second comes
    EXPECT_NE(std::string::npos, Log().find("Execute#1> Read Fail"));
    m_Adapter.Close();
    StopSim();
    EXPECT_EQ(1u, Find("dir", "lost").size());
}

TEST_F(SimChannelTest, LateAckWaitsUntilTheToolGoesOn)
{
    StartUnlocked("late-ack=1");
    const std::vector<uint8_t> data = PatternBytes(2 * 4096, 8);
    // The first write goes unanswered; its second try is answered as usual.
    ASSERT_TRUE(WriteBlock(FIRMWARE_BASE, data.data(), 4096));
    EXPECT_NE(std::string::npos, Log().find("DIAG_Write#1> Read Fail"));
    // The next block's request lets the held-back bare 02 go, ahead of its own answer.
    ASSERT_TRUE(WriteBlock(FIRMWARE_BASE + 4096, data.data() + 4096, 4096));
    EXPECT_NE(std::string::npos, Log().find("Ambiguous Ack Ignored"));
    m_Adapter.Close();
    StopSim();
    const auto sent = Find("event", "held-back block acknowledgement sent (fault late-ack)");
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(FIRMWARE_BASE, sent[0]["address"]);
    EXPECT_EQ("block-write", sent[0]["before"]);
}

// A module that acknowledges with a bare 02 and loses one answer: every block still gets
// written, none skipped. The retry of the block whose answer was lost is taken; the next
// block's first 02 may be that lost answer, so it is set aside until that answer is due no
// longer, and then taken as the block's own: that block is not written again.
TEST_F(SimChannelTest, BareAcknowledgementsWithALostAnswer)
{
    AddFault("bare-block-ack");
    StartUnlocked("drop-block-ack=2");
    ASSERT_TRUE(WriteUnit(FIRMWARE_BASE, PatternBytes(3 * 4096, 10)));
    EXPECT_EQ(1, CountLogMessages(Log(), "DIAG_Write#1> Read Fail"));
    EXPECT_EQ(1, CountLogMessages(Log(), "DIAG_Write#1> Ambiguous Ack Ignored"));
    EXPECT_EQ(1, CountLogMessages(Log(), "DIAG_Write#1> Ambiguous Ack Taken"));
    EXPECT_EQ(0u, m_pSim->ViolationCount());
    m_Adapter.Close();
    StopSim();
    const auto written = Find("event", "block written");
    ASSERT_EQ(4u, written.size());
    const std::vector<uint32_t> order = {0, 4096, 4096, 8192};
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(FIRMWARE_BASE + order[i], written[i]["address"]) << i;
}

TEST_F(SimChannelTest, ResetWhileABlockArrives)
{
    StartUnlocked("reset-during-block=2");
    const std::vector<uint8_t> data = PatternBytes(2 * 4096, 9);
    ASSERT_TRUE(WriteBlock(FIRMWARE_BASE, data.data(), 4096));
    WriteBlock(FIRMWARE_BASE + 4096, data.data() + 4096, 4096); // meets the reset
    m_Adapter.Close();
    StopSim();
    EXPECT_EQ(1u, Find("event", "connection reset while a block write arrives (fault)").size());
    EXPECT_EQ(1u, Find("event", "connection reset").size());
}

TEST_F(SimChannelTest, SlowRestartAndUnechoedForceLoad)
{
    AddFault("slow-restart=15000");
    AddFault("no-force-load-echo");
    StartSim();
    Connect();
    EXPECT_FALSE(Record(UDP_ENTER_FORCE_LOAD, 500)); // acted on, never echoed
    int forceLoad = 0, offline = 0;
    ASSERT_TRUE(HandShake(1, forceLoad, offline));
    EXPECT_EQ(1, forceLoad);
    ASSERT_TRUE(Record(UDP_LEAVE_FORCE_LOAD));
    ASSERT_TRUE(m_Diag.DIAG_Reset());
    EXPECT_FALSE(WaitReady(9000)); // a restart of 5000 ms would be over by now
    EXPECT_TRUE(WaitReady(20000));
}

} // namespace
