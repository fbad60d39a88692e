// Image benchmarks: bulk CRC against the byte-wise table routine on the same buffer, and
// opening a 16 MB five-part firmware file with every checksum verified.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

#include "images/CBinFile.h"
#include "images/CImageBuilder.h"
#include "images/CSampleImage.h"
#include "images/Crc16.h"
#include "platform/UserFiles.h"

namespace {

constexpr size_t kBufferSize = 16u * 1024u * 1024u;

const std::vector<uint8_t>& Buffer()
{
    static const std::vector<uint8_t> buffer = [] {
        std::vector<uint8_t> bytes(kBufferSize);
        std::mt19937 random(42);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        return bytes;
    }();
    return buffer;
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
        if (firmware == nullptr || !SampleImage::BuildSample(*firmware, SampleImage::DEFAULT_FIRMWARE_SIZE, image, error) ||
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

} // namespace
