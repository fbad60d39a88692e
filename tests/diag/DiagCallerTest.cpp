#include <gtest/gtest.h>

#include <future>

#include "diag/CDiagCaller.h"
#include "diag/CHdlcAdapter.h"
#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "tests/support/HdlcBytes.h"
#include "tests/support/LogText.h"
#include "tests/support/Loopback.h"
#include "tests/support/TcpPeer.h"
#include "tests/support/Wait.h"
#include "wire/HdlcFraming.h"

using namespace kivtest;

namespace {

Bytes Reply(const std::string& hexStart, size_t length, uint8_t fill = 0)
{
    Bytes answer = Hex(hexStart);
    answer.resize(length, fill);
    return answer;
}

class DiagCallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Adapter.Open("127.0.0.1", m_Peer.Port(), INetPort::PORT_TYPE_TCP));
        ASSERT_TRUE(m_Adapter.StartReader());
    }

    // Every request is answered with the framed payloads `answers` returns for it.
    void Answer(std::function<std::vector<Bytes>(const Bytes&)> answers)
    {
        m_Peer.SetFrameResponder([answers](const Bytes& request) {
            std::vector<Bytes> framed;
            for (const Bytes& a : answers(request))
                framed.push_back(Frame(a));
            return framed;
        });
    }
    void AnswerAlways(const Bytes& answer)
    {
        Answer([answer](const Bytes&) { return std::vector<Bytes>{answer}; });
    }

    // Builds the downloader write of 16 bytes at `address`, sets its acknowledgement pattern
    // and sends it as the download step does.
    bool WriteBlock(uint32_t address)
    {
        Bytes block = {
            0x0F, uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address), 0x00, 0x10};
        block.resize(7 + 16, 0x5A);
        const uint32_t length = HdlcEncode(block.data(), uint32_t(block.size()),
                                           {m_Adapter.WriteBuffer(), CHdlcAdapter::WRITE_BUFFER_SIZE}, 1);
        const uint8_t pattern[5] = {0x02, block[1], block[2], block[3], block[4]};
        m_Adapter.Responses().SetMatchPattern(pattern, 5);
        return m_Diag.DIAG_Write(length);
    }

    // Waits (real time, with the usual guard) until the log holds `message`: the worker
    // writes the line while it waits on; the log is all there is to watch.
    bool WaitForLogLine(const std::string& message)
    {
        return WaitFor([&] { return CountLogMessages(m_Log.GetPending(), message) != 0; }, GUARD_MS, 5);
    }

    // Log messages without their time stamps.
    std::vector<std::string> Lines() { return LogMessages(m_Log.GetPending()); }
    std::string LinesText() { return LogMessagesText(m_Log.GetPending()); }

    TcpPeer m_Peer;
    CHdlcAdapter m_Adapter;
    CDownloadLog m_Log{"/nonexistent-dir/never-flushed.txt"};
    CDiagCaller m_Diag{&m_Adapter, &m_Log};
};

} // namespace

TEST_F(DiagCallerTest, VersionQueriesSendExactFramesAndReadTheText)
{
    Answer([](const Bytes& request) {
        if (request[2] == 0x03) {
            Bytes a = Reply("4B C9 03 FF", 66);
            const std::string text = "M100_FW_1.2\r\nrest";
            std::copy(text.begin(), text.end(), a.begin() + 4);
            return std::vector<Bytes>{a};
        }
        Bytes a = Reply("4B C9 24 FF 00", 260);
        const std::string text = "DASH 2.0";
        std::copy(text.begin(), text.end(), a.begin() + 5);
        return std::vector<Bytes>{a};
    });
    std::string board, dashboard;
    ASSERT_TRUE(m_Diag.DIAG_QueryBoardVersion(&board));
    ASSERT_TRUE(m_Diag.DIAG_QueryISOVersion(&dashboard));
    EXPECT_EQ(board, "M100_FW_1.2");
    EXPECT_EQ(dashboard, "DASH 2.0");
    EXPECT_EQ(LinesText(), "Firmware Version: M100_FW_1.2\nDashboard Version: DASH 2.0\n");

    const Bytes raw = m_Peer.Received();
    EXPECT_EQ(ToHex(Bytes(raw.begin(), raw.begin() + 7)), "4B C9 03 FF E8 99 7E");
    auto frames = m_Peer.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], Reply("4B C9 24 FF", 36));
}

TEST_F(DiagCallerTest, BoardVersionIsCutAt31CharactersAndNoVersionIsSuccess)
{
    Answer([](const Bytes& request) {
        if (request[2] == 0x03)
            return std::vector<Bytes>{Reply("4B C9 03 FF", 66, 'A')};
        return std::vector<Bytes>{Reply("4B C9 24 FF 01", 260, 'B')};
    });
    std::string board, dashboard;
    ASSERT_TRUE(m_Diag.DIAG_QueryBoardVersion(&board));
    EXPECT_EQ(board, std::string(31, 'A'));
    ASSERT_TRUE(m_Diag.DIAG_QueryISOVersion(&dashboard));
    EXPECT_EQ(dashboard, "No version");
    EXPECT_EQ(Lines().size(), 1u); // "No version" is not logged
}

TEST_F(DiagCallerTest, ErrorAnswerStopsAtOnce)
{
    AnswerAlways(Reply("13 4B C9 03 FF", 20));
    std::string board = "unchanged";
    EXPECT_FALSE(m_Diag.DIAG_QueryBoardVersion(&board));
    EXPECT_EQ(board, "Failed to read");
    EXPECT_EQ(LinesText(), "Execute#1> 13\nDIAG_QueryBoardVersion: Write or Read Fail\n");
    EXPECT_EQ(m_Peer.Frames().size(), 1u);
}

TEST_F(DiagCallerTest, NegativeAcknowledgementIsRetriedFiveTimesWithPauses)
{
    AnswerAlways(Hex("03 00 02"));
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(m_Diag.DIAG_Reset());
    const uint32_t elapsed = TicksSince(start);
    // Five pauses of 200 ms; answered at once, so before the time-outs of five tries.
    EXPECT_GE(elapsed, 5 * 200u - 50);
    EXPECT_LT(elapsed, 5 * (3000u + 3000u + 200u));
    std::string expected;
    for (int i = 1; i <= 5; ++i)
        expected += "Execute#" + std::to_string(i) + "> (03 00 02)\n";
    expected += "DIAG_Reset: Write or Read Fail\n";
    EXPECT_EQ(LinesText(), expected);
    auto frames = m_Peer.Frames();
    ASSERT_EQ(frames.size(), 5u);
    const Bytes raw = m_Peer.Received();
    EXPECT_EQ(ToHex(Bytes(raw.begin(), raw.begin() + 5)), "7E 0A 22 5F 7E");
}

TEST_F(DiagCallerTest, RetryCode18ThenSuccess)
{
    int calls = 0;
    Answer([&calls](const Bytes&) { return std::vector<Bytes>{++calls == 1 ? Hex("18 29 01 00") : Hex("29 01 00")}; });
    EXPECT_TRUE(m_Diag.DIAG_ChangeMode(1));
    EXPECT_EQ(LinesText(), "Execute#1> (18 29 01)\n");
    EXPECT_EQ(ToHex(m_Peer.Frames().at(0)), "29 01 00");
}

TEST_F(DiagCallerTest, WrongLengthIsRetried)
{
    AnswerAlways(Reply("4B C9 03 FF", 65, 'x'));
    EXPECT_FALSE(m_Diag.DIAG_QueryBoardVersion());
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "CDiagCaller::Execute> Response's Length Error(Expect:66 Actual:65)");
    EXPECT_EQ(lines[5], "DIAG_QueryBoardVersion: Write or Read Fail");
}

TEST_F(DiagCallerTest, NoAnswerAndNoChannel)
{
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(m_Diag.DIAG_SwitchToDownloader());
    EXPECT_GE(TicksSince(start), 5 * (3000u + 200u) - 100);
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "Execute#5> Read Fail");
    EXPECT_EQ(lines[5], "DIAG_SwitchToDownloader: Write or Read Fail");

    ASSERT_TRUE(m_Adapter.Close());
    int force = 0, offline = 0;
    EXPECT_FALSE(m_Diag.DIAG_HandShake(0, &force, &offline));
    EXPECT_EQ(force, 1);
    EXPECT_EQ(offline, 1);
    lines = Lines();
    EXPECT_EQ(lines[6], "Execute#1> Write Fail");
    EXPECT_EQ(lines.back(), "DIAG_HandShake: Write or Read Fail");
}

TEST_F(DiagCallerTest, HandShakeRequestAndAnswers)
{
    Bytes good = Reply("26 00 00 25 A7 00 06 00 00 00", 133);
    good[14] = 1;
    Bytes shortAnswer = Reply("26 00 00 25 A7 00 06", 15);
    Bytes badFormat = Reply("26 00 00 25 A7 00 07", 133);
    Bytes badStatus = Reply("26 00 00 25 A7 00 06 00 00 03", 133);
    std::vector<Bytes> script = {good, shortAnswer, badFormat, badStatus};
    size_t next = 0;
    Answer([&](const Bytes&) { return std::vector<Bytes>{script[next++ % script.size()]}; });

    int force = 7, offline = 7;
    EXPECT_TRUE(m_Diag.DIAG_HandShake(1, &force, &offline));
    EXPECT_EQ(force, 1);
    EXPECT_EQ(offline, 0);
    EXPECT_FALSE(m_Diag.DIAG_HandShake(0, &force, &offline));
    EXPECT_EQ(force, 1);
    EXPECT_EQ(offline, 1);
    EXPECT_FALSE(m_Diag.DIAG_HandShake(0, &force, &offline));
    EXPECT_FALSE(m_Diag.DIAG_HandShake(0, &force, &offline));
    EXPECT_EQ(LinesText(),
              "DIAG_HandShake: (1,0)\n"
              "DIAG_HandShake: Response Length = 15 (too short)\n"
              "DIAG_HandShake: Response's format error\n"
              "DIAG_HandShake: status = 3\n");

    const Bytes raw = m_Peer.Received();
    EXPECT_EQ(raw.front(), 0x7E); // leading flag asked for by the first call
    EXPECT_EQ(m_Peer.Frames().at(0), Reply("26 00 00 25 A7 00 06", 133));
}

TEST_F(DiagCallerTest, UnlockSendsThePreambleThenTheCode)
{
    AnswerAlways(Hex("02"));
    const uint8_t code[8] = {'U', 'N', 'L', 'O', 'C', 'K', 0x7E, '8'};
    EXPECT_TRUE(m_Diag.DIAG_Unlock(code));
    ASSERT_TRUE(m_Peer.WaitFrames(2));
    const Bytes raw = m_Peer.Received();
    EXPECT_EQ(ToHex(Bytes(raw.begin(), raw.begin() + 5)), "7E 26 4C B4 7E");
    EXPECT_EQ(raw[5], 0x7E);
    EXPECT_EQ(ToHex(m_Peer.Frames().at(1)), "0B 55 4E 4C 4F 43 4B 7E 38");
    EXPECT_TRUE(Lines().empty());
}

TEST_F(DiagCallerTest, BackupRestoreAndRestoreStatus)
{
    std::vector<Bytes> script = {
        Hex("4B C8 1E FF 00 00 00 00"), // backup ok
        Hex("4B C8 1E FF 00 01 00 00"), // restore: byte 5 = 1, byte 6 = 0: fail, nothing logged
        Hex("4B C8 1E FF 00 00 03 00"), // backup: CRC failed
        Reply("4B C9 21 FF 00 00", 36), Reply("4B C9 21 FF 00 01 00", 36), Reply("4B C9 21 FF 00 01 01", 36),
    };
    size_t next = 0;
    Answer([&](const Bytes&) { return std::vector<Bytes>{script[next++]}; });
    EXPECT_TRUE(m_Diag.DIAG_NV_BackupRestore(1));
    EXPECT_FALSE(m_Diag.DIAG_NV_BackupRestore(0));
    EXPECT_FALSE(m_Diag.DIAG_NV_BackupRestore(1));
    EXPECT_TRUE(m_Diag.DIAG_NV_QueryRestoreStatus());
    EXPECT_TRUE(m_Diag.DIAG_NV_QueryRestoreStatus());
    EXPECT_FALSE(m_Diag.DIAG_NV_QueryRestoreStatus());
    EXPECT_EQ(LinesText(),
              "Backup NV: CRC校验失败\n"
              "DIAG_NV_QueryRestoreStatus: No Backup to Restore\n"
              "DIAG_NV_QueryRestoreStatus: Restore Success\n"
              "DIAG_NV_QueryRestoreStatus: Restore Fail\n");
    auto frames = m_Peer.Frames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(ToHex(frames[0]), "4B C8 1E FF 00 00 00 00");
    EXPECT_EQ(ToHex(frames[1]), "4B C8 1E FF 01 01 00 00");
    EXPECT_EQ(frames[3], Reply("4B C9 21 FF", 36));
}

TEST_F(DiagCallerTest, NvReadAndWriteStatusTable)
{
    uint16_t status = 0;
    Answer([&status](const Bytes& request) {
        Bytes a = request;
        a[3] = 0x5A;
        a[131] = uint8_t(status);
        a[132] = uint8_t(status >> 8);
        return std::vector<Bytes>{a};
    });
    uint8_t data[4] = {1, 2, 3, 4};
    uint16_t got = 0xFFFF;
    status = 0;
    EXPECT_TRUE(m_Diag.DIAG_Read_NV(0x1234, data, 4, &got));
    EXPECT_EQ(got, 0);
    EXPECT_EQ(data[0], 0x5A);
    Bytes request = m_Peer.Frames().at(0);
    ASSERT_EQ(request.size(), 133u);
    EXPECT_EQ(ToHex(Bytes(request.begin(), request.begin() + 4)), "26 34 12 00");

    status = 5;
    EXPECT_TRUE(m_Diag.DIAG_Read_NV(1, data, 4, &got));
    EXPECT_EQ(got, 5);
    EXPECT_EQ(ToHex(Bytes(data, data + 4)), "00 00 00 00");
    EXPECT_FALSE(m_Diag.DIAG_Write_NV(1, data, 4, &got));
    status = 300;
    EXPECT_FALSE(m_Diag.DIAG_Read_NV(1, data, 500, &got)); // length over 128 is cut, not overrun
    EXPECT_EQ(LinesText(),
              "DIAG_Read_NV: Variable was not active (never written)\n"
              "DIAG_Write_NV: Variable was not active (never written)\n"
              "DIAG_Read_NV: Unknown status\n");
    EXPECT_EQ(m_Peer.Frames().at(2)[0], 0x27);
}

TEST_F(DiagCallerTest, DownloaderBlockWriteWithNegativeAcknowledgement)
{
    int calls = 0;
    Answer(
        [&calls](const Bytes&) { return std::vector<Bytes>{++calls == 1 ? Hex("03 00 01") : Hex("02 00 10 00 00")}; });
    const Bytes block = Hex("0F 00 10 00 00 00 02 7E 7D");
    const uint32_t length =
        HdlcEncode(block.data(), uint32_t(block.size()), {m_Adapter.WriteBuffer(), CHdlcAdapter::WRITE_BUFFER_SIZE}, 1);
    m_Adapter.Responses().SetMatchPattern(Hex("02 00 10 00 00").data(), 5);
    EXPECT_TRUE(m_Diag.DIAG_Write(length));
    EXPECT_EQ(LinesText(), "DIAG_Write#1> Exec Fail\n");
    EXPECT_EQ(m_Peer.Frames().size(), 2u);
    EXPECT_EQ(m_Peer.Frames().at(1), block);

    m_Peer.SetFrameResponder(nullptr);
    EXPECT_FALSE(m_Diag.DIAG_Write(length));
    EXPECT_EQ(Lines().back(), "DIAG_Write#5> Read Fail");
    EXPECT_FALSE(m_Diag.DIAG_Write(CHdlcAdapter::WRITE_BUFFER_SIZE + 1));
}

// A bare 02 names no block. After a block's first try went unanswered, its late answer may
// come while the tool waits for the next block, ahead of that block's own refusal: taken as
// the next block's acknowledgement, the refused block would be skipped.
TEST_F(DiagCallerTest, LateBareAckIsNotTakenForTheNextBlock)
{
    int calls = 0;
    Answer([&calls](const Bytes&) {
        return ++calls == 1 ? std::vector<Bytes>{} : std::vector<Bytes>{Hex("02 00 10 00 00")};
    });
    ASSERT_TRUE(WriteBlock(0x00100000));
    EXPECT_EQ(LinesText(), "DIAG_Write#1> Read Fail\n");
    EXPECT_EQ(m_Diag.AcksOwed(), 1u);

    m_Peer.SetFrameResponder(nullptr);
    auto next = std::async(std::launch::async, [this] { return WriteBlock(0x00101000); });
    ASSERT_TRUE(m_Peer.WaitFrames(3));
    ASSERT_TRUE(m_Peer.Send(Frame(Hex("02")))); // the first block's late answer
    ASSERT_TRUE(WaitForLogLine("DIAG_Write#1> Ambiguous Ack Ignored"));
    AnswerAlways(Hex("02 00 10 10 00"));
    ASSERT_TRUE(m_Peer.Send(Frame(Hex("03 00 06")))); // the second block refused
    EXPECT_TRUE(next.get());
    EXPECT_EQ(CountLogMessages(m_Log.GetPending(), "DIAG_Write#1> Exec Fail"), 1);
    ASSERT_EQ(m_Peer.Frames().size(), 4u); // the refused block was written again
    EXPECT_EQ(m_Peer.Frames()[3], m_Peer.Frames()[2]);
    EXPECT_EQ(m_Diag.AcksOwed(), 0u);
}

// A module that acknowledges blocks with a bare 02 goes on working: at once while it answers
// every request, and when a try's answer comes late, behind the retry's.
TEST_F(DiagCallerTest, BareBlockAcknowledgementsAreTakenWhenNothingIsOwed)
{
    AnswerAlways(Hex("02"));
    EXPECT_TRUE(WriteBlock(0x00100000));
    EXPECT_TRUE(WriteBlock(0x00101000));
    EXPECT_EQ(m_Peer.Frames().size(), 2u);
    EXPECT_EQ(LinesText(), "");

    int calls = 0;
    Answer([&calls](const Bytes&) {
        // The first try's answer comes late, together with the second's.
        return ++calls == 1 ? std::vector<Bytes>{} : std::vector<Bytes>{Hex("02"), Hex("02")};
    });
    EXPECT_TRUE(WriteBlock(0x00102000));
    // Both answers are this block's: the first to come is taken.
    EXPECT_EQ(LinesText(), "DIAG_Write#1> Read Fail\n");
    EXPECT_EQ(m_Peer.Frames().size(), 4u); // no third try
    // The second may not have been read yet; when it is, it settles what was owed, and the
    // next block's own 02 is taken without another try.
    EXPECT_LE(m_Diag.AcksOwed(), 1u);
    AnswerAlways(Hex("02"));
    EXPECT_TRUE(WriteBlock(0x00103000));
    EXPECT_EQ(m_Peer.Frames().size(), 5u);
    EXPECT_EQ(m_Diag.AcksOwed(), 0u);
}

// A module that answers with a bare 02 and loses one answer: the retry's 02 answers the same
// block, whichever try it belongs to, so the block counts as written. The lost answer may
// still come while the next block waits, so that block's first bare 02 is in doubt; but it
// is owed only for one more wait: then that 02 is the block's own, taken without writing the
// block again, and nothing is owed any longer. So one lost answer costs one wait, not one
// for every block after it. A block named in its answer is taken at once.
TEST_F(DiagCallerTest, LostBareAnswerCostsTheNextBlockOneWait)
{
    int calls = 0;
    Answer([&calls](const Bytes&) { return ++calls == 1 ? std::vector<Bytes>{} : std::vector<Bytes>{Hex("02")}; });
    EXPECT_TRUE(WriteBlock(0x00100000));
    EXPECT_EQ(LinesText(), "DIAG_Write#1> Read Fail\n");
    EXPECT_EQ(m_Peer.Frames().size(), 2u);
    EXPECT_EQ(m_Diag.AcksOwed(), 1u);

    AnswerAlways(Hex("02"));
    const uint32_t start = GetTickCount();
    EXPECT_TRUE(WriteBlock(0x00101000));
    EXPECT_LE(TicksSince(start), CDiagCaller::BLOCK_ACK_TIMEOUT_MS + 500);
    EXPECT_EQ(LinesText(),
              "DIAG_Write#1> Read Fail\n"
              "DIAG_Write#1> Ambiguous Ack Ignored\n"
              "DIAG_Write#1> Ambiguous Ack Taken\n");
    EXPECT_EQ(m_Peer.Frames().size(), 3u);
    EXPECT_EQ(m_Diag.AcksOwed(), 0u);
    for (uint32_t address : {0x00102000u, 0x00103000u, 0x00104000u})
        EXPECT_TRUE(WriteBlock(address));
    EXPECT_EQ(m_Peer.Frames().size(), 6u);
    EXPECT_EQ(CountLogMessages(m_Log.GetPending(), "DIAG_Write#1> Ambiguous Ack Ignored"), 1);

    AnswerAlways(Hex("02 00 10 50 00"));
    EXPECT_TRUE(WriteBlock(0x00105000));
    EXPECT_EQ(m_Peer.Frames().size(), 7u);

    // A reset or an unlock that goes unanswered is owed in the same way, each try for one
    // more wait of its own: by the end of the fifth, only its answer may still come.
    m_Peer.SetFrameResponder(nullptr);
    const uint32_t owed = m_Diag.AcksOwed();
    EXPECT_FALSE(m_Diag.DIAG_Reset());
    EXPECT_EQ(m_Diag.AcksOwed(), owed + 1);
    m_Diag.ForgetOwedAcks();
    EXPECT_EQ(m_Diag.AcksOwed(), 0u);
}

TEST(DiagInterpreters, BackupRestoreResultLines)
{
    CDownloadLog log{"/nonexistent-dir/never-flushed.txt"};
    uint8_t answer[512] = {0x4B, 0xC8, 0x1E, 0xFF};
    const char* expected[] = {"", "单板状态不正确", "不存在有效的备份", "CRC校验失败", "NV操作失败"};
    for (uint8_t code = 1; code <= 5; ++code) {
        answer[6] = code;
        EXPECT_FALSE(CDiagCaller::InterpretBackupRestore(answer, 0, &log));
        const std::string pending = log.GetPending();
        if (code <= 4) {
            EXPECT_NE(pending.find(std::string("Restore NV: ") + expected[code]), std::string::npos);
        }
    }
    const std::string pending = log.GetPending();
    EXPECT_EQ(std::count(pending.begin(), pending.end(), '\n'), 4);
}
