// An image file that another program changes while the upgrade sends it: the file was read
// whole when it was opened and checked there, and nothing is read from the disk after that,
// so the change never reaches the router. Cut short, a byte flipped, or rewritten so that
// every block checksum still holds (which no checksum could catch): the run goes through and
// the virtual router's record of what it received holds only the original bytes.
// A disk that fails a read (EIO) can only fail the one read at open: the image is refused
// there, with the system's reason, before anything is sent.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <sstream>

#include "images/CSampleImage.h"
#include "sim/CBlockMemory.h"
#include "tests/support/EngineSimFixture.h"
#include "tests/support/Files.h"
#include "tests/support/TestImages.h"
#include "tests/support/Wait.h"
#include "wire/Crc16.h"

namespace {

const char* const DOWNLOADING = "Downloading the firmware of the wireless module";

// The file whose reads fail with EIO, as a disk or a USB stick that goes bad does; empty
// for none. Set and cleared on the test's thread only, while no engine runs.
std::string g_FailingPath;

bool ReadsFail(int fd)
{
    if (g_FailingPath.empty())
        return false;
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error) == g_FailingPath;
}

ssize_t ReadAtOrFail(int fd, void* buffer, size_t length, off_t offset)
{
    if (ReadsFail(fd)) {
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
        g_FailingPath.clear();
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

    // The module's record of the whole download holds the original image byte for byte (a
    // digest of every byte, which a change that keeps the CRC-16 cannot fool).
    void ExpectOriginalImageComplete() const
    {
        CBlockMemory memory;
        for (size_t part = 0; part < m_Opened.GetPartCount(); ++part) {
            const uint32_t length = m_Opened.GetSpan(part).m_nLength;
            memory.Write(m_Opened.GetHeader(part).m_nTargetAddress, m_Opened.PartData(part, 0, length), length);
        }
        const auto complete = Find("event", "image complete");
        ASSERT_EQ(complete.size(), 1u);
        std::vector<CBlockMemory::Extent> received;
        for (const auto& e : complete[0]["extents"])
            received.push_back({e["address"], e["length"], e["digest"]});
        EXPECT_EQ(received, memory.Extents());
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
    ExpectSuccessRow(row);
    ExpectRunEnd(true);
    EXPECT_EQ(ExpectOnlyOriginalBytesReceived("event", "block written"), m_Opened.GetTotalLength());
    ExpectOriginalImageComplete();
}

TEST_F(ImageChange, FirmwareRewrittenKeepingEveryBlockChecksumDuringTheDownload)
{
    ASSERT_NO_FATAL_FAILURE(UseFile(COMPONENT_FIRMWARE, SampleFirmware()));
    StartSim();
    const int row = RowOf(COMPONENT_FIRMWARE);
    // Eight bytes of a block of part 4 change, and two more so that its CRC-16 holds.
    const size_t block = DataOffset(4, 2 * 4096);
    ChangeDuringTransfer(row, DOWNLOADING, 30, [this, block] {
        std::vector<uint8_t> bytes = m_Original;
        kivtest::ChangeKeepingCrc(bytes, block, 4096, block + 100, 8);
        WriteImage(bytes);
    });
    RunUpgrade();

    ASSERT_TRUE(m_bChanged);
    ExpectSuccessRow(row);
    ExpectRunEnd(true);
    ExpectOriginalImageComplete();
}

TEST_F(ImageChange, FirmwareThatCannotBeReadIsRefusedAtOpenWithTheSystemsReason)
{
    WriteImage(SampleFirmware());
    g_FailingPath = m_Path;
    CBinFile file;
    file.SetPath(m_Path);
    EXPECT_FALSE(file.Open(COMPONENT_FIRMWARE));
    EXPECT_EQ(file.GetFailure(), "reading the file failed: Input/output error");
    g_FailingPath.clear();
    EXPECT_TRUE(file.Open(COMPONENT_FIRMWARE)) << file.GetFailure();
}

TEST_F(ImageChange, RouterImageByteRewrittenBetweenTwoChunks)
{
    // 40000 data bytes: six chunks of 7300 and one of 3500, each spanning two or three blocks.
    ASSERT_NO_FATAL_FAILURE(UseFile(COMPONENT_BOOT, kivtest::RouterSampleImage(IMG_BOOT, 40000 - 64)));
    StartSim();
    const int row = RowOf(COMPONENT_BOOT);
    // Byte 14700 is in chunk 2 and in block 3, which chunk 1 shares: the change lands
    // after chunk 0 has gone out.
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
    ExpectSuccessRow(row);
    ExpectRunEnd(false);
    const uint32_t length = m_Opened.GetSpan(0).m_nLength;
    EXPECT_TRUE(kivtest::WaitFor([this, length] { return ImageDataRecorded() >= length; }));
    EXPECT_EQ(ExpectOnlyOriginalBytesReceived("kind", "image-data"), length);
}

} // namespace
