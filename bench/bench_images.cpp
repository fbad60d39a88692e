// Image benchmarks: bulk CRC against the byte-wise table routine on the same buffer;
// opening a 16 MB five-part firmware file with every checksum verified; and the send path,
// where every chunk is read and checked against its blocks' checksums right before it goes
// out, against the former path that handed out pointers into a mapping of the file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

#include "images/CAppFileReader.h"
#include "images/CBinFile.h"
#include "images/CImageBuilder.h"
#include "images/CSampleImage.h"
#include "platform/UserFiles.h"
#include "wire/Crc16.h"
#include "wire/HdlcFraming.h"

namespace {

constexpr size_t BUFFER_SIZE = 16u * 1024u * 1024u;

const std::vector<uint8_t>& Buffer()
{
    static const std::vector<uint8_t> BUFFER = [] {
        std::vector<uint8_t> bytes(BUFFER_SIZE);
        std::mt19937 random(42);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        return bytes;
    }();
    return BUFFER;
}

void BM_Crc16Bytewise(benchmark::State& state)
{
    const auto& buffer = Buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc16Bytewise(CRC16_INIT, buffer.data(), buffer.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_Crc16Bytewise)->Unit(benchmark::kMillisecond);

void BM_Crc16Bulk(benchmark::State& state)
{
    const auto& buffer = Buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc16Bulk(CRC16_INIT, buffer.data(), buffer.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_Crc16Bulk)->Unit(benchmark::kMillisecond);

// A 16 MiB five-part firmware image written to a scratch directory once.
class FirmwareFile : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override
    {
        if (!m_strPath.empty())
            return;
        std::string pattern = GetTempDirectory() + "kiv-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_strDir = pattern;
        const SampleImage::SampleInfo* firmware = nullptr;
        for (const auto& sample : SampleImage::GetSampleCatalogue())
            if (sample.m_nType == IMG_FIRMWARE)
                firmware = &sample;
        std::vector<uint8_t> image;
        std::string error;
        if (firmware == nullptr ||
            !SampleImage::BuildSample(*firmware, SampleImage::DEFAULT_FIRMWARE_SIZE, image, error) ||
            !CImageBuilder::WriteBytes(m_strDir + "/firmware.bin", image, error))
            throw std::runtime_error("cannot write the firmware image: " + error);
        m_strPath = m_strDir + "/firmware.bin";
        m_nSize = image.size();
    }
    ~FirmwareFile() override
    {
        if (!m_strDir.empty())
            std::filesystem::remove_all(m_strDir);
    }

protected:
    std::string m_strDir;
    std::string m_strPath;
    size_t m_nSize = 0;
};

BENCHMARK_DEFINE_F(FirmwareFile, Open)(benchmark::State& state)
{
    for (auto _ : state) {
        CBinFile file;
        file.SetPath(m_strPath);
        if (!file.Open(IMG_FIRMWARE) || file.GetPartCount() != 5) {
            state.SkipWithError("firmware image did not open");
            break;
        }
        benchmark::DoNotOptimize(file.GetTotalLength());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(m_nSize));
}
BENCHMARK_REGISTER_F(FirmwareFile, Open)->Unit(benchmark::kMillisecond);

// What a transfer does with one chunk besides the socket write: the router transfer hands
// it to the socket (a copy into the kernel, stood in for by a copy into a buffer); the
// wireless download frames it with byte stuffing.
struct ChunkConsumer {
    explicit ChunkConsumer(bool frame) : m_bFrame(frame), m_Out(2 * 8192 + 16) {}
    void Consume(const uint8_t* data, uint32_t length)
    {
        if (m_bFrame) {
            uint32_t pos = 0;
            uint16_t crc = HDLC_CRC_INIT;
            HdlcStuffAppend(m_Out, pos, data, length, crc);
            benchmark::DoNotOptimize(crc);
        } else {
            std::memcpy(m_Out.data(), data, length);
        }
        benchmark::ClobberMemory();
    }
    bool m_bFrame;
    std::vector<uint8_t> m_Out;
};

// The former send path: the file mapped read-only, chunks as pointers into the mapping,
// nothing checked after open.
BENCHMARK_DEFINE_F(FirmwareFile, SendMapped)(benchmark::State& state)
{
    const uint32_t chunkSize = static_cast<uint32_t>(state.range(0));
    CBinFile file;
    file.SetPath(m_strPath);
    const int fd = ::open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
    void* map = fd >= 0 ? mmap(nullptr, m_nSize, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
    if (!file.Open(IMG_FIRMWARE) || map == MAP_FAILED) {
        state.SkipWithError("firmware image did not open");
        if (fd >= 0)
            ::close(fd);
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(map);
    ChunkConsumer consumer(chunkSize == 4096);
    for (auto _ : state) {
        for (size_t part = 0; part < file.GetPartCount(); ++part) {
            const DataSpan& span = file.GetSpan(part);
            for (uint32_t done = 0; done < span.m_nLength; done += chunkSize)
                consumer.Consume(bytes + span.m_nOffset + done, std::min(chunkSize, span.m_nLength - done));
        }
    }
    munmap(map, m_nSize);
    ::close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * file.GetTotalLength());
}
BENCHMARK_REGISTER_F(FirmwareFile, SendMapped)->Arg(7300)->Arg(4096)->Unit(benchmark::kMillisecond);

// The send path of the transfers: each chunk read by position and checked against the
// checksums of every block it touches, right before it is consumed.
BENCHMARK_DEFINE_F(FirmwareFile, SendVerified)(benchmark::State& state)
{
    const uint32_t chunkSize = static_cast<uint32_t>(state.range(0));
    CBinFile file;
    file.SetPath(m_strPath);
    if (!file.Open(IMG_FIRMWARE)) {
        state.SkipWithError("firmware image did not open");
        return;
    }
    CAppFileReader reader(file, chunkSize);
    ChunkConsumer consumer(chunkSize == 4096);
    for (auto _ : state) {
        for (size_t part = 0; part < file.GetPartCount(); ++part) {
            reader.SelectPart(part);
            uint32_t length = 0;
            while (const uint8_t* chunk = reader.NextChunk(length))
                consumer.Consume(chunk, length);
            if (!reader.GetFailure().empty()) {
                state.SkipWithError(reader.GetFailure().c_str());
                return;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * file.GetTotalLength());
}
BENCHMARK_REGISTER_F(FirmwareFile, SendVerified)->Arg(7300)->Arg(4096)->Unit(benchmark::kMillisecond);

} // namespace
