#include <gtest/gtest.h>

#include <set>

#include "images/CBinFile.h"
#include "images/CSampleImage.h"

using namespace SampleImage;

TEST(SampleImage, EverySampleOpensAsItsTypeAndCarriesItsVersion)
{
    std::set<std::string> unlockCodes;
    for (const SampleInfo& sample : GetSampleCatalogue()) {
        SCOPED_TRACE(sample.m_strFamily + "/" + sample.m_strFileName);
        std::vector<uint8_t> image;
        std::string error;
        ASSERT_TRUE(BuildSample(sample, 200000, image, error)) << error;
        std::string path = "/samples/" + sample.m_strFamily + "/" + sample.m_strFileName;

        CBinFile any;
        ASSERT_TRUE(any.OpenMemory(image.data(), image.size(), IMG_NONE, true, path)) << any.GetFailure();
        EXPECT_EQ(any.GetType(), sample.m_nType);
        CBinFile own;
        ASSERT_TRUE(own.OpenMemory(image.data(), image.size(), sample.m_nType, true, path));
        EXPECT_EQ(own.GetType(), sample.m_nType);
        EXPECT_EQ(own.GetVersion(), sample.m_strVersion);
        EXPECT_EQ(own.GetPartCount(), sample.m_nPartCount);
        EXPECT_TRUE(unlockCodes.insert(sample.m_strUnlockCode).second) << "unlock codes are distinct";

        std::string version;
        std::vector<uint8_t> head(own.GetSpan(0).m_nLength);
        ASSERT_TRUE(own.ReadPartData(0, 0, static_cast<uint32_t>(head.size()), head.data()));
        const uint8_t* data = head.data();
        size_t size = head.size();
        if (sample.m_nType <= IMG_CONFIG_FILE) {
            EXPECT_TRUE(ReadRouterSampleVersion(data, size, version));
            EXPECT_FALSE(ReadWirelessSampleVersion(data, size, version));
        } else {
            EXPECT_TRUE(ReadWirelessSampleVersion(data, size, version));
            EXPECT_FALSE(ReadRouterSampleVersion(data, size, version));
        }
        EXPECT_EQ(version, sample.m_strVersion);
    }
}

TEST(SampleImage, FirmwareHasFivePartsOfTheRequestedTotalSize)
{
    const SampleInfo* firmware = nullptr;
    for (const SampleInfo& sample : GetSampleCatalogue())
        if (sample.m_nType == IMG_FIRMWARE)
            firmware = &sample;
    ASSERT_NE(firmware, nullptr);
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(BuildSample(*firmware, 1000003, image, error)) << error;
    CBinFile file;
    ASSERT_TRUE(file.OpenMemory(image.data(), image.size(), IMG_FIRMWARE, true));
    EXPECT_EQ(file.GetPartCount(), 5u);
    EXPECT_EQ(file.GetTotalLength(), 1000003u);
    EXPECT_FALSE(BuildSample(*firmware, 100, image, error));
}

TEST(SampleImage, MarkerReadersRefuseShortOrForeignData)
{
    std::string version = "unchanged";
    auto router = MakeRouterData(RouterKindBits(IMG_BOOT), std::string(40, '9'), {});
    EXPECT_FALSE(ReadRouterSampleVersion(router.data(), router.size() - 1, version));
    EXPECT_TRUE(ReadRouterSampleVersion(router.data(), router.size(), version));
    EXPECT_EQ(version, std::string(31, '9')) << "cut to the field, still terminated";
    auto wireless = MakeWirelessData("11.608.13.02.00", {1, 2, 3});
    EXPECT_FALSE(ReadWirelessSampleVersion(wireless.data(), 71, version));
    EXPECT_FALSE(ReadWirelessSampleVersion(nullptr, 100, version));
    wireless[0] = 'X';
    EXPECT_FALSE(ReadWirelessSampleVersion(wireless.data(), wireless.size(), version));
}
