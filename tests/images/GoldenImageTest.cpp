// Golden files: the image files committed under fuzz/seeds/image_parser/ opened through the
// file path and checked field by field against values read off their bytes by hand. They
// were written once and never again, so a change to how images are written or read that
// the two sides make together still shows here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "images/CBinFile.h"
#include "images/CSampleImage.h"
#include "tests/support/HdlcBytes.h"

using kivtest::Bytes;
using kivtest::ToHex;

namespace {

struct GoldenPart {
    const char* magic;   // bytes 0-3 of the part header
    uint32_t headerSize; // 98 + 2 x blocks
    uint32_t targetAddress;
    uint32_t dataLength;
    const char* name;  // part name text
    uint16_t checksum; // header checksum as stored
    uint32_t blockSize;
    uint32_t dataOffset;    // from the start of the file
    const char* firstBytes; // the first and last four data bytes
    const char* lastBytes;
};

struct GoldenImage {
    const char* file;
    uint32_t size;
    uint32_t fileTypeWord;
    uint32_t type; // image type code: 0 BOOT ... 8 Dashboard
    const char* version;
    uint32_t totalLength;
    const char* sampleVersion; // the version in the sample header or marker of part 0
    std::vector<GoldenPart> parts;
};

const char* const WIRELESS = "55 AA 5A A5";
const char* const ROUTER = "48 44 52 30"; // "HDR0"

// One row per image, laid out as the table it is.
// clang-format off
const GoldenImage GOLDEN[] = {
    {"router_boot.bin", 968, 2, 0, "1.0.6.2", 764, "1.0.6.2",
     {{ROUTER, 110, 0, 764, "d1", 0xF2F9, 128, 202, "4B 56 52 43", "D1 DC 0A 76"}}},
    {"raw_app.bin", 920, 2, 1, "No version", 700, nullptr,
     {{ROUTER, 126, 0, 700, "d1", 0x06A2, 50, 218, "C1 63 13 AA", "D1 DC 0A 76"}}},
    {"router_b_config.bin", 536, 2, 6, "3.2.5.3", 237, "3.2.5.3",
     {{ROUTER, 106, 0, 197, "d2", 0x63F2, 64, 198, "4B 56 52 43", "5C B2 0D AA"},
      {ROUTER, 100, 0, 40, "d3", 0x1C4B, 64, 496, "C1 49 7D FF", "10 60 46 99"}}},
    {"firmware.bin", 1768, 1, 7, "11.608.13.02.00", 1118, "11.608.13.02.00",
     {{WIRELESS, 114, 0, 772, "d1", 0x5CDA, 100, 206, "4B 49 56 57", "D1 DC 0A 76"},
      {WIRELESS, 102, 0, 133, "d2", 0x48D0, 100, 1082, "76 B4 6C 8B", "5C B2 0D AA"},
      {WIRELESS, 100, 0, 40, "d3", 0x3B6E, 100, 1316, "C1 49 7D FF", "10 60 46 99"},
      {WIRELESS, 136, 0, 133, "d2", 0x8947, 7, 1492, "76 B4 6C 8B", "5C B2 0D AA"},
      {WIRELESS, 100, 0, 40, "d3", 0x3B6E, 100, 1728, "C1 49 7D FF", "10 60 46 99"}}},
    // Written by hand from the layout, not by the image builder: parts at target addresses
    // whose four bytes all differ, so a byte order mixed up anywhere shows.
    {"wireless_addressed.bin", 944, 1, 7, "11.608.14.01.00", 645, "11.608.14.01.00",
     {{WIRELESS, 104, 0x01A2B3C4, 600, "g1", 0x886E, 256, 196, "4B 49 56 57", "E9 0E 33 58"},
      {WIRELESS, 100, 0x02C4E608, 45, "g2", 0x6943, 256, 896, "91 B6 DB 00", "80 A5 CA EF"}}},
    // Type word 0 with two parts and "ZQPX" in the file name: a dashboard.
    {"dashboard_ZQPX.bin", 1112, 0, 8, "No version", 812, "",
     {{WIRELESS, 106, 0, 772, "d1", 0xC58F, 256, 198, "4B 49 56 57", "D1 DC 0A 76"},
      {WIRELESS, 100, 0, 40, "d3", 0x8ABA, 256, 1072, "C1 49 7D FF", "10 60 46 99"}}},
};
// clang-format on

std::string Text(const char* bytes, size_t size) { return std::string(bytes, strnlen(bytes, size)); }

// Part `part`'s data, read and checked against the block checksums as a transfer reads it.
std::vector<uint8_t> PartData(const CBinFile& file, size_t part)
{
    std::vector<uint8_t> data(file.GetSpan(part).m_nLength);
    std::string failure;
    EXPECT_TRUE(file.ReadVerified(part, 0, static_cast<uint32_t>(data.size()), data.data(), failure)) << failure;
    return data;
}

std::string SampleVersion(const CBinFile& file)
{
    std::string version;
    const std::vector<uint8_t> data = PartData(file, 0);
    if (file.GetHeader(0).m_Magic[0] == 0x48) {
        if (!SampleImage::ReadRouterSampleVersion(data.data(), data.size(), version))
            return "(none)";
    } else if (!SampleImage::ReadWirelessSampleVersion(data.data(), data.size(), version)) {
        return "(none)";
    }
    return version;
}

} // namespace

TEST(GoldenImages, CommittedSeedImagesReadFieldByField)
{
    for (const GoldenImage& g : GOLDEN) {
        SCOPED_TRACE(g.file);
        CBinFile file;
        file.SetPath(std::string(KIV_IMAGE_SEED_DIR) + "/" + g.file);
        ASSERT_TRUE(file.Open(9)) << file.GetFailure(); // 9: any type
        EXPECT_EQ(file.GetSize(), g.size);
        EXPECT_EQ(file.GetFileType(), g.fileTypeWord);
        EXPECT_EQ(file.GetType(), g.type);
        EXPECT_EQ(file.GetVersion(), g.version);
        EXPECT_EQ(file.GetTotalLength(), g.totalLength);
        ASSERT_EQ(file.GetPartCount(), g.parts.size());
        for (size_t i = 0; i < g.parts.size(); ++i) {
            SCOPED_TRACE("part " + std::to_string(i));
            const GoldenPart& want = g.parts[i];
            const PartHeader& h = file.GetHeader(i);
            EXPECT_EQ(ToHex(Bytes(h.m_Magic.begin(), h.m_Magic.end())), want.magic);
            EXPECT_EQ(h.m_nHeaderSize, want.headerSize);
            EXPECT_EQ(h.m_nReserved, 1u);
            EXPECT_EQ(Text(h.m_UnlockCode.data(), h.m_UnlockCode.size()), "00000000");
            EXPECT_EQ(h.m_nTargetAddress, want.targetAddress);
            EXPECT_EQ(h.m_nDataLength, want.dataLength);
            EXPECT_EQ(Text(h.m_BuildDate.data(), h.m_BuildDate.size()), "");
            EXPECT_EQ(Text(h.m_BuildTime.data(), h.m_BuildTime.size()), "");
            EXPECT_EQ(Text(h.m_PartName.data(), h.m_PartName.size()), want.name);
            EXPECT_EQ(h.m_nChecksum, want.checksum);
            EXPECT_EQ(h.m_nBlockSize, want.blockSize);
            EXPECT_EQ(file.GetSpan(i).m_nOffset, want.dataOffset);
            EXPECT_EQ(file.GetSpan(i).m_nLength, want.dataLength);
            const std::vector<uint8_t> data = PartData(file, i);
            ASSERT_EQ(data.size(), want.dataLength);
            EXPECT_EQ(ToHex(Bytes(data.begin(), data.begin() + 4)), want.firstBytes);
            EXPECT_EQ(ToHex(Bytes(data.end() - 4, data.end())), want.lastBytes);
        }
        // A router image is sent as its part 0 alone: one of two parts is not used.
        EXPECT_EQ(file.GetUnusableReason(),
                  std::string(g.file) == "router_b_config.bin" ? "router images must have exactly one part" : "");
        if (g.sampleVersion != nullptr) {
            EXPECT_EQ(SampleVersion(file), g.sampleVersion);
        }
    }
}

TEST(GoldenImages, SeedsAskedForAsOneTypeOrAnother)
{
    // Router images by their kind bits (word 12 of part 0 data: 0x02 BOOT, 0x00 APP, 0x0E
    // Configuration File) read as family A when a family A type is asked for, as family B
    // when a family B type is; never as a wireless image. Wireless images by their type word.
    struct Case {
        const char* file;
        uint32_t asked;
        uint32_t type; // 9: not opened
    };
    const Case cases[] = {
        {"router_boot.bin", 0, 0},
        {"router_boot.bin", 1, 0},
        {"router_boot.bin", 6, 9},
        {"router_boot.bin", 7, 9},
        {"raw_app.bin", 2, 1},
        {"raw_app.bin", 5, 9},
        {"router_b_config.bin", 3, 6},
        {"router_b_config.bin", 0, 9},
        {"firmware.bin", 8, 7},
        {"dashboard_ZQPX.bin", 7, 8},
        {"wireless_addressed.bin", 8, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " asked for as type " + std::to_string(c.asked));
        CBinFile file;
        file.SetPath(std::string(KIV_IMAGE_SEED_DIR) + "/" + c.file);
        EXPECT_EQ(file.Open(c.asked), c.type != 9);
        EXPECT_EQ(file.GetType(), c.type);
    }
}
