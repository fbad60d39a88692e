// Frames and packets the engine builds: downloader block writes and router control packets.
#include <gtest/gtest.h>

#include <vector>

#include "engine/CRouterSession.h"
#include "engine/CUpgradeEngine.h"
#include "tests/support/HdlcBytes.h"
#include "wire/ControlPacket.h"
#include "wire/HdlcFraming.h"

namespace {

std::vector<uint8_t> BuiltFrame(CRouterSession& session, CUpgradeEngine& engine, uint32_t address,
                                const std::vector<uint8_t>& data)
{
    const uint32_t length = engine.BuildWriteFrame(address, static_cast<uint32_t>(data.size()), data.data());
    const uint8_t* buffer = session.Adapter().WriteBuffer();
    return std::vector<uint8_t>(buffer, buffer + length);
}

std::vector<uint8_t> Decode(const std::vector<uint8_t>& frame)
{
    std::vector<uint8_t> payload(frame.size());
    const uint32_t length = HdlcDecode(frame.data(), static_cast<uint32_t>(frame.size()), payload.data());
    payload.resize(length);
    return payload;
}

TEST(EngineWriteFrame, StuffsAddressLengthAndData)
{
    CRouterSession session("");
    CUpgradeEngine engine(session, nullptr);
    const std::vector<uint8_t> data = {0x7E, 0x01, 0x7D};
    const auto frame = BuiltFrame(session, engine, 0x7E7D0000, data);
    // 7E | 0F 7D5E 7D5D 00 00 00 03 | 7D5E 01 7D5D | FCS AF CD | 7E
    EXPECT_EQ(kivtest::ToHex(frame), "7E 0F 7D 5E 7D 5D 00 00 00 03 7D 5E 01 7D 5D AF CD 7E");
}

TEST(EngineWriteFrame, WorstCaseBlockFitsAndOversizeIsRefused)
{
    CRouterSession session("");
    CUpgradeEngine engine(session, nullptr);
    const std::vector<uint8_t> allFlags(4096, 0x7E);
    const auto frame = BuiltFrame(session, engine, 0x7E7E7E7E, allFlags);
    EXPECT_LE(frame.size(), CHdlcAdapter::WRITE_BUFFER_SIZE);
    EXPECT_EQ(Decode(frame).size(), 4103u);

    const std::vector<uint8_t> tooLong(4097, 0);
    EXPECT_EQ(engine.BuildWriteFrame(0, 4097, tooLong.data()), 0u);
    EXPECT_EQ(engine.BuildWriteFrame(0, 10, nullptr), 0u);
}

TEST(EngineControlPacket, LayoutOfTheThreeKinds)
{
    const auto rut = ControlPacket::Build(0, 4096);
    EXPECT_EQ(rut[0], 0xFF);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rut.data() + 1), 29), "Varoni RUT Begin Download Pkt");
    EXPECT_EQ(rut[30], 0x00);
    EXPECT_EQ(rut[31], 0x10);
    EXPECT_EQ(rut[32], 0x00);
    EXPECT_EQ(rut[33], 0x00);
    for (int i = 34; i < 40; ++i)
        EXPECT_EQ(rut[i], 0) << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ControlPacket::Build(1, 0).data() + 1), 29),
              "Varoni FWT Begin Download Pkt");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ControlPacket::Build(2, 0).data() + 1), 29),
              "Varoni FWT Force Download Pkt");
    const auto other = ControlPacket::Build(7, 1);
    for (int i = 1; i < 30; ++i)
        EXPECT_EQ(other[i], 0) << i;
}

} // namespace
