// An image file that another program changes while the upgrade sends it: a shortened file
// and a rewritten byte are both caught right before the bytes would go out, the component
// fails, the run ends as for any failed step, and the virtual router's record of what it
// received shows that no changed byte reached it.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <sstream>

#include "images/CSampleImage.h"
#include "images/Crc16.h"
#include "tests/support/EngineSimFixture.h"
#include "tests/support/Files.h"
#include "tests/support/TestImages.h"
#include "tests/support/Wait.h"

namespace {

const char* const DOWNLOADING = "Downloading the firmware of the wireless module";

// The descriptor whose reads fail with EIO, as a disk or a USB stick that goes bad does;
// -1 for none.
std::atomic<int> g_FailingReads{-1};

ssize_t ReadAtOrFail(int fd, void* buffer, size_t length, off_t offset)
{
    if (fd == g_FailingReads.load()) {
        errno = EIO;
        return -1;
    }
    return ::syscall(SYS_pread64, fd, buffer, length, offset);
}

} // namespace

// This test program's reads by position: they stand in front of the C library's for every
// caller in the program, the image reader included, so that one file can be made to fail.
extern "C" ssize_t pread(int fd, void* buffer, size_t length, off_t offset)
{
    return ReadAtOrFail(fd, buffer, length, offset);
}
extern "C" ssize_t pread64(int fd, void* buffer, size_t length, off64_t offset)
{
    return ReadAtOrFail(fd, buffer, length, offset);
}

namespace {

// The descriptor this process holds open on `path`; -1 when there is none.
int DescriptorOf(const std::string& path)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path)
            return std::stoi(entry.path().filename().string());
    }
    return -1;
}

class ImageChange : public kivtest::EngineSimFixture {
protected:
    void SetUp() override
    {
        EngineSimFixture::SetUp();
        m_Path = m_Dir / "image.bin";
    }

    void TearDown() override
    {
        m_List.SetChangeCallback(nullptr);
        g_FailingReads = -1;
        EngineSimFixture::TearDown();
    }

    // Writes `bytes` as the image file of component `type` and opens it as the check does.
    void UseFile(int type, std::vector<uint8_t> bytes)
    {
        m_Original = std::move(bytes);
        WriteImage(m_Original);
        ComponentEntry& entry = m_Table[type];
        entry.m_Image.SetPath(m_Path);
        ASSERT_TRUE(entry.m_Image.Open(static_cast<uint32_t>(type))) << entry.m_Image.GetFailure();
        entry.m_UpgradeFlag = 1;
        ASSERT_TRUE(m_Opened.OpenMemory(m_Original.data(), m_Original.size(), static_cast<uint32_t>(type), true));
    }

    // Rewrites the file in place, as another program would.
    void WriteImage(const std::vector<uint8_t>& bytes) const { ASSERT_TRUE(kivtest::WriteFile(m_Path, bytes)); }

    // Runs `change` once, on the engine's own thread between two chunks, as soon as row
    // `row` shows `status` and a percentage of `percent` or more: the file changes while
    // it is sent.
    void ChangeDuringTransfer(int row, const std::string& status, int percent, std::function<void()> change)
    {
        m_List.SetChangeCallback([this, row, status, percent, change](int changedRow, int column) {
            if (m_bChanged || changedRow != row || column != IComponentList::COL_PERCENT ||
                m_List.GetItemText(row, IComponentList::COL_STATUS) != status)
                return;
            if (std::atoi(m_List.GetItemText(row, IComponentList::COL_PERCENT).c_str()) >= percent) {
                m_bChanged = true;
                change();
            }
        });
    }

    // Offset in the file of byte `offset` of part `part`'s data.
    size_t DataOffset(size_t part, size_t offset) const { return m_Opened.GetSpan(part).m_nOffset + offset; }

    // The original bytes a transcript record says the router received: a block written to
    // the wireless module at its "address" (placed by the parts' target addresses), or
    // router image data at its "offset" into part 0. False when the image has no such bytes.
    bool OriginalBytes(const nlohmann::json& record, std::vector<uint8_t>& bytes) const
    {
        const uint32_t length = record["length"];
        bytes.assign(length, 0);
        if (record.contains("offset"))
            return m_Opened.ReadPartData(0, record["offset"], length, bytes.data());
        const uint32_t address = record["address"];
        for (size_t part = 0; part < m_Opened.GetPartCount(); ++part) {
            const uint32_t start = m_Opened.GetHeader(part).m_nTargetAddress;
            if (address >= start && address - start <= m_Opened.GetSpan(part).m_nLength)
                return m_Opened.ReadPartData(part, address - start, length, bytes.data());
        }
        return false;
    }

    // Bytes of router image data the simulator has recorded so far; a line still being
    // written is not counted.
    uint64_t ImageDataRecorded() const
    {
        uint64_t length = 0;
        std::istringstream in(kivtest::ReadFile(m_Config.transcriptPath));
        for (std::string line; std::getline(in, line);) {
            const nlohmann::json r = nlohmann::json::parse(line, nullptr, false);
            if (!r.is_discarded() && r.value("kind", "") == "image-data")
                length += r.value("length", uint64_t{0});
        }
        return length;
    }

    // Every record whose `key` is `value` carries in its "crc" the checksum of the original
    // bytes at its place: nothing changed reached the router. Returns how many bytes they held.
    uint64_t ExpectOnlyOriginalBytesReceived(const std::string& key, const std::string& value) const
    {
        uint64_t bytes = 0;
        for (const auto& r : Transcript()) {
            if (r.value(key, "") != value)
                continue;
            std::vector<uint8_t> original;
            EXPECT_TRUE(OriginalBytes(r, original)) << r.dump();
            EXPECT_EQ(r["crc"].get<uint16_t>(), Crc16Compute(original.data(), original.size()))
                << "changed bytes received: " << r.dump();
            bytes += original.size();
        }
        return bytes;
    }

    static std::vector<uint8_t> SampleFirmware()
    {
        for (const auto& sample : SampleImage::GetSampleCatalogue()) {
            if (sample.m_nType == IMG_FIRMWARE && sample.m_strFamily == "a") {
                std::vector<uint8_t> image;
                std::string error;
                EXPECT_TRUE(SampleImage::BuildSample(sample, 256 * 1024, image, error)) << error;
                return image;
            }
        }
        return {};
    }

    std::string m_Path;
    std::vector<uint8_t> m_Original;
    CBinFile m_Opened; // the original bytes, opened, for offsets and comparisons
    bool m_bChanged = false;
};

TEST_F(ImageChange, FirmwareFileCutShortDuringTheDownload)
{
    ASSERT_NO_FATAL_FAILURE(UseFile(COMPONENT_FIRMWARE, SampleFirmware()));
    StartSim();
    const int row = RowOf(COMPONENT_FIRMWARE);
    // At 30 % the download is in part 1; the file then ends inside part 3.
    const size_t cut = DataOffset(3, 1000);
    ChangeDuringTransfer(row, DOWNLOADING, 30,
                         [this, cut] { ASSERT_EQ(truncate(m_Path.c_str(), static_cast<off_t>(cut)), 0); });
    RunUpgrade();

    ASSERT_TRUE(m_bChanged) << "the file was never changed: the download did not get under way";
    ExpectFailureRow(row, "Download failed");
    EXPECT_EQ(m_pEngine->GetRunOutcome().nResultId, 129u); // "Download failed"
    EXPECT_EQ(LogLines("Image file changed on disk: " + m_Path +
                       ": part 3 block 0: read failed: the file is shorter than when it was opened"),
              1)
        << m_Log;
    ExpectRunEnd(true);
    EXPECT_GT(ExpectOnlyOriginalBytesReceived("event", "block written"), 0u);
}

TEST_F(ImageChange, FirmwareByteRewrittenDuringTheDownload)
{
    ASSERT_NO_FATAL_FAILURE(UseFile(COMPONENT_FIRMWARE, SampleFirmware()));
    StartSim();
    const int row = RowOf(COMPONENT_FIRMWARE);
    // A block of part 3 gets one new byte after part 0 has been written.
    const size_t changed = DataOffset(3, 2 * 4096 + 100);
    ChangeDuringTransfer(row, DOWNLOADING, 30, [this, changed] {
        std::vector<uint8_t> bytes = m_Original;
        bytes[changed] ^= 0x5A;
        WriteImage(bytes);
    });
    RunUpgrade();

    ASSERT_TRUE(m_bChanged);
    ExpectFailureRow(row, "Download failed");
    EXPECT_EQ(LogLines("Image file changed on disk: " + m_Path + ": part 3 block 2: checksum mismatch"), 1) << m_Log;
    ExpectRunEnd(true);
    // The blocks before the changed one went in; the changed one never did.
    const uint32_t changedAddress = m_Opened.GetHeader(3).m_nTargetAddress + 2 * 4096;
    EXPECT_GT(ExpectOnlyOriginalBytesReceived("event", "block written"), 0u);
    for (const auto& r : Transcript())
        EXPECT_FALSE(r.value("event", "") == "block written" && r["address"] == changedAddress);
}

TEST_F(ImageChange, FirmwareReadFailsWithAnInputOutputError)
{
    ASSERT_NO_FATAL_FAILURE(UseFile(COMPONENT_FIRMWARE, SampleFirmware()));
    StartSim();
    const int row = RowOf(COMPONENT_FIRMWARE);
    ChangeDuringTransfer(row, DOWNLOADING, 30, [this] {
        g_FailingReads = DescriptorOf(m_Path);
        ASSERT_NE(g_FailingReads.load(), -1) << m_Path << " is not open";
    });
    RunUpgrade();

    ASSERT_TRUE(m_bChanged);
    ExpectFailureRow(row, "Download failed");
    EXPECT_EQ(kivtest::CountOf(m_Log, ": read failed: Input/output error\r\n"), 1) << m_Log;
    EXPECT_EQ(kivtest::CountOf(m_Log, "Image file changed on disk: " + m_Path + ": part "), 1) << m_Log;
    ExpectRunEnd(true);
    EXPECT_GT(ExpectOnlyOriginalBytesReceived("event", "block written"), 0u);
}

TEST_F(ImageChange, RouterImageByteRewrittenBetweenTwoChunks)
{
    // 40000 data bytes: six chunks of 7300 and one of 3500, each spanning two or three blocks.
    ASSERT_NO_FATAL_FAILURE(UseFile(COMPONENT_BOOT, kivtest::RouterSampleImage(IMG_BOOT, 40000 - 64)));
    StartSim();
    const int row = RowOf(COMPONENT_BOOT);
    // Byte 14700 is in chunk 2 (14600..21899) and block 3 (12288..16383), which chunk 1
    // (7300..14599) shares: after chunk 0 the change lands; chunk 1 is refused.
    ChangeDuringTransfer(row, "Transmitting the upgrade data of the router module", 1, [this] {
        std::vector<uint8_t> bytes = m_Original;
        bytes[DataOffset(0, 14700)] ^= 0x01;
        WriteImage(bytes);
    });
    StartUpgrade();
    EXPECT_TRUE(WaitUpgradeEnd(std::chrono::seconds(120)));
    // The simulator reads router data on a thread of its own, which may still be at it when
    // the run has ended: it records the first chunk before it is stopped.
    EXPECT_TRUE(kivtest::WaitFor([this] { return ImageDataRecorded() >= 7300; }));
    EndUpgrade();

    ASSERT_TRUE(m_bChanged);
    ExpectFailureRow(row, "Failed to transmit upgrading data of router module");
    EXPECT_EQ(m_pEngine->GetRunOutcome().nResultId, 121u);
    EXPECT_EQ(LogLines("Image file changed on disk: " + m_Path + ": part 0 block 3: checksum mismatch"), 1) << m_Log;
    EXPECT_EQ(LogLines("Router Block2 Transfer Fail: Success"), 0);
    ExpectRunEnd(false);
    EXPECT_EQ(ExpectOnlyOriginalBytesReceived("kind", "image-data"), 7300u) << "only the first chunk went out";
}

} // namespace
