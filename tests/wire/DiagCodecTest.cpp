// The wireless module's requests and answers as plain bytes: no channel, no reader thread.
#include <gtest/gtest.h>

#include "tests/support/HdlcBytes.h"
#include "wire/DiagCodec.h"

using namespace kivtest;

namespace {

Bytes RequestBytes(const DiagRequest& r) { return Bytes(r.bytes, r.bytes + r.length); }
std::string PatternHex(const DiagRequest& r) { return ToHex(Bytes(r.pattern, r.pattern + r.patternLength)); }

Bytes Zeros(const std::string& hexStart, size_t length)
{
    Bytes bytes = Hex(hexStart);
    bytes.resize(length, 0);
    return bytes;
}

struct Expected {
    const char* name;
    DiagRequest request;
    Bytes bytes;
    uint32_t answerLength;
    const char* pattern;
};

} // namespace

TEST(DiagCodec, EveryRequestByteForByteWithItsAnswerLengthAndPattern)
{
    const uint8_t code[8] = {'U', 'N', 'L', 'O', 'C', 'K', 0x7E, '8'};
    const uint8_t nvData[3] = {0xAA, 0xBB, 0xCC};
    const Expected table[] = {
        {"board version", DiagCodec::BoardVersionRequest(), Hex("4B C9 03 FF"), 66, "4B C9 03 FF"},
        {"dashboard version", DiagCodec::IsoVersionRequest(), Zeros("4B C9 24 FF", 36), 260, "4B C9 24 FF"},
        {"switch", DiagCodec::SwitchToDownloaderRequest(), Hex("3A"), 1, "3A"},
        {"backup", DiagCodec::BackupRestoreRequest(true), Hex("4B C8 1E FF 00 00 00 00"), 8, "4B C8 1E FF"},
        {"restore", DiagCodec::BackupRestoreRequest(false), Hex("4B C8 1E FF 01 01 00 00"), 8, "4B C8 1E FF"},
        {"restore status", DiagCodec::RestoreStatusRequest(), Zeros("4B C9 21 FF", 36), 36, "4B C9 21 FF"},
        {"hand-shake", DiagCodec::HandShakeRequest(), Zeros("26 00 00 25 A7 00 06", 133), 0, "26 00 00 25"},
        {"offline", DiagCodec::ChangeModeRequest(1), Hex("29 01 00"), 3, "29 01 00"},
        {"nv read", DiagCodec::NvRequest(0x26, 0x1234, nullptr, 0), Zeros("26 34 12", 133), 133, "26 34 12"},
        {"nv write", DiagCodec::NvRequest(0x27, 0x0102, nvData, 3), Zeros("27 02 01 AA BB CC", 133), 133, "27 02 01"},
        {"unlock", DiagCodec::UnlockRequest(code), Hex("0B 55 4E 4C 4F 43 4B 7E 38"), 1, "02"},
        {"reset", DiagCodec::ResetRequest(), Hex("0A"), 1, "02"},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(ToHex(RequestBytes(e.request)), ToHex(e.bytes));
        EXPECT_EQ(e.request.expectedLength, e.answerLength);
        EXPECT_EQ(PatternHex(e.request), e.pattern);
    }

    // NV data beyond the 128 bytes of an item is not taken.
    const Bytes big(300, 0x11);
    const DiagRequest write = DiagCodec::NvRequest(0x27, 1, big.data(), 300);
    EXPECT_EQ(write.bytes[130], 0x11);
    EXPECT_EQ(write.bytes[131], 0x00);
    EXPECT_EQ(write.bytes[132], 0x00);
}

TEST(DiagCodec, BlockWriteHeaderAndItsAcknowledgement)
{
    uint8_t header[7];
    DiagCodec::BlockWriteHeader(0x7E7D0102, 0x1000, header);
    EXPECT_EQ(ToHex(Bytes(header, header + 7)), "0F 7E 7D 01 02 10 00");
    uint8_t ack[5];
    DiagCodec::BlockAckPattern(0x00100000, ack);
    EXPECT_EQ(ToHex(Bytes(ack, ack + 5)), "02 00 10 00 00");
    EXPECT_TRUE(DiagCodec::IsRefusal(Hex("03 00 06")));
    EXPECT_FALSE(DiagCodec::IsRefusal(Hex("02 00 10 00 00")));
    EXPECT_FALSE(DiagCodec::IsRefusal({}));
}

TEST(DiagCodec, HandShakeRequestIsToldApartFromOtherNvReads)
{
    EXPECT_TRUE(DiagCodec::IsHandShakeRequest(Zeros("26 00 00 25 A7 00 06", 133)));
    EXPECT_TRUE(DiagCodec::IsHandShakeRequest(Hex("26 00 00 25 A7 00 06")));         // its length is checked apart
    EXPECT_FALSE(DiagCodec::IsHandShakeRequest(Zeros("26 01 00 25 A7 00 06", 133))); // item 1
    EXPECT_FALSE(DiagCodec::IsHandShakeRequest(Zeros("26 00 00 25 A7 00 07", 133)));
    EXPECT_FALSE(DiagCodec::IsHandShakeRequest(Zeros("27 00 00 25 A7 00 06", 133)));
    EXPECT_FALSE(DiagCodec::IsHandShakeRequest(Hex("26 00 00 25 A7 00")));
}

TEST(DiagCodec, VersionAnswers)
{
    Bytes board = Zeros("4B C9 03 FF", 66);
    const std::string text = "M100_FW_1.2\r\nrest";
    std::copy(text.begin(), text.end(), board.begin() + 4);
    EXPECT_EQ(DiagCodec::BoardVersion(board), "M100_FW_1.2");
    EXPECT_EQ(DiagCodec::BoardVersion(Zeros("4B C9 03 FF", 66)), "");
    Bytes full = Zeros("4B C9 03 FF", 66);
    std::fill(full.begin() + 4, full.end(), 'A');
    EXPECT_EQ(DiagCodec::BoardVersion(full), std::string(31, 'A'));
    EXPECT_EQ(DiagCodec::BoardVersion(Hex("4B C9 03 FF 41 42")), "AB"); // short: what there is
    EXPECT_EQ(DiagCodec::BoardVersion(Hex("4B C9")), "");

    Bytes iso = Zeros("4B C9 24 FF 00 44 41 53 48", 260);
    EXPECT_EQ(DiagCodec::IsoVersion(iso).value_or("none"), "DASH");
    iso[4] = 1;
    EXPECT_FALSE(DiagCodec::IsoVersion(iso).has_value());
    EXPECT_FALSE(DiagCodec::IsoVersion(Hex("4B C9 24 FF")).has_value());
}

TEST(DiagCodec, BackupRestoreAndRestoreStatusAnswers)
{
    auto backup = [](const char* hex) { return DiagCodec::BackupRestore(Hex(hex)); };
    EXPECT_TRUE(backup("4B C8 1E FF 00 00 00 00").done);
    EXPECT_FALSE(backup("4B C8 1E FF 00 01 00 00").done);
    EXPECT_EQ(backup("4B C8 1E FF 00 01 00 00").code, 0);
    EXPECT_EQ(backup("4B C8 1E FF 00 00 03 00").code, 3);
    EXPECT_FALSE(backup("4B C8 1E FF 00 00").done); // short: not done

    using DiagCodec::RestoreStatus;
    EXPECT_EQ(DiagCodec::RestoreStatusOf(Zeros("4B C9 21 FF 00 00", 36)), RestoreStatus::NoBackup);
    EXPECT_EQ(DiagCodec::RestoreStatusOf(Zeros("4B C9 21 FF 00 01 00", 36)), RestoreStatus::Restored);
    EXPECT_EQ(DiagCodec::RestoreStatusOf(Zeros("4B C9 21 FF 00 01 01", 36)), RestoreStatus::Failed);
    EXPECT_EQ(DiagCodec::RestoreStatusOf(Hex("4B C9 21 FF 00")), RestoreStatus::Failed);
}

TEST(DiagCodec, HandShakeAnswers)
{
    using Status = DiagCodec::HandShakeResult::Status;
    Bytes good = Zeros("26 00 00 25 A7 00 06 00 00 00", 133);
    good[14] = 1;
    DiagCodec::HandShakeResult r = DiagCodec::HandShake(good);
    EXPECT_EQ(r.status, Status::Good);
    EXPECT_EQ(r.forceLoad, 1);
    EXPECT_EQ(r.offline, 0);
    good[15] = 2; // only 1 means offline
    EXPECT_EQ(DiagCodec::HandShake(good).offline, 0);

    EXPECT_EQ(DiagCodec::HandShake(Zeros("26 00 00 25 A7 00 06", 15)).status, Status::TooShort);
    EXPECT_EQ(DiagCodec::HandShake(Zeros("26 00 00 25 A7 00 06", 16)).status, Status::Good);
    EXPECT_EQ(DiagCodec::HandShake(Zeros("26 00 00 25 A7 00 07", 133)).status, Status::BadFormat);
    EXPECT_EQ(DiagCodec::HandShake(Zeros("26 00 00 25 A7 00 06 00 01", 133)).status, Status::BadFormat);
    r = DiagCodec::HandShake(Zeros("26 00 00 25 A7 00 06 00 00 03", 133));
    EXPECT_EQ(r.status, Status::BadStatus);
    EXPECT_EQ(r.statusByte, 3);
}

TEST(DiagCodec, NvAnswers)
{
    Bytes answer = Zeros("26 34 12 5A 5B", 133);
    answer[131] = 0x2C;
    answer[132] = 0x01;
    EXPECT_EQ(DiagCodec::NvStatus(answer), 300);
    EXPECT_EQ(DiagCodec::NvStatus(Zeros("26 34 12", 132)), DiagCodec::NV_STATUS_MISSING);

    uint8_t data[130];
    std::fill(std::begin(data), std::end(data), 0xEE);
    DiagCodec::NvData(answer, data, 500); // cut to the item's 128 bytes
    EXPECT_EQ(data[0], 0x5A);
    EXPECT_EQ(data[1], 0x5B);
    EXPECT_EQ(data[127], 0x00);
    EXPECT_EQ(data[128], 0xEE);
    DiagCodec::NvData(Hex("26 34 12 5A"), data, 4); // short answer: zeros where it has nothing
    EXPECT_EQ(ToHex(Bytes(data, data + 4)), "5A 00 00 00");
}
