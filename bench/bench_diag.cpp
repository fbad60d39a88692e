// Framing throughput against a plain copy, and the round trip of one 4096-byte downloader
// block through the channel adapter against a bare TCP request/response of the same sizes.
// Everything runs on 127.0.0.1 against the tests' TCP peer, acknowledging every block.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "diag/CHdlcAdapter.h"
#include "platform/CUniqueFd.h"
#include "tests/support/HdlcBytes.h"
#include "tests/support/TcpPeer.h"
#include "wire/CHdlcFrameWriter.h"
#include "wire/DiagCodec.h"
#include "wire/HdlcFraming.h"

namespace {

constexpr uint32_t BLOCK = 4096;

std::vector<uint8_t> RandomBytes(size_t size)
{
    std::mt19937 rng(42);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes)
        b = uint8_t(rng());
    return bytes;
}

void BM_Memcpy(benchmark::State& state)
{
    const auto in = RandomBytes(BLOCK);
    std::vector<uint8_t> out(HdlcMaxFrameLength(BLOCK));
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * BLOCK);
}
BENCHMARK(BM_Memcpy);

void BM_HdlcEncode(benchmark::State& state)
{
    const auto in = RandomBytes(BLOCK);
    std::vector<uint8_t> out(HdlcMaxFrameLength(BLOCK));
    for (auto _ : state) {
        benchmark::DoNotOptimize(HdlcEncode(in.data(), BLOCK, out, 1));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * BLOCK);
}
BENCHMARK(BM_HdlcEncode);

void BM_HdlcDecode(benchmark::State& state)
{
    const auto in = RandomBytes(BLOCK);
    std::vector<uint8_t> frame(HdlcMaxFrameLength(BLOCK));
    frame.resize(HdlcEncode(in.data(), BLOCK, frame, 1));
    std::vector<uint8_t> out(frame.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(HdlcDecode(frame.data(), uint32_t(frame.size()), out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * BLOCK);
}
BENCHMARK(BM_HdlcDecode);

// The wireless module as the block benchmarks need it: every downloader write frame (0F +
// address) is answered with the framed payload 02 + address; nothing received is kept.
void Acknowledge(kivtest::TcpPeer& peer)
{
    peer.SetKeepReceived(false);
    peer.SetFrameResponder([](const kivtest::Bytes& request) {
        if (request.size() < 5 || request[0] != 0x0F)
            return std::vector<kivtest::Bytes>();
        return std::vector<kivtest::Bytes>{kivtest::Frame({0x02, request[1], request[2], request[3], request[4]}, 0)};
    });
}

// The block frame as the download step builds it: flag, header and data stuffed with one
// running register, the FCS, flag.
uint32_t BuildBlockFrame(uint8_t* out, uint32_t address, const uint8_t* data, uint16_t length)
{
    uint8_t header[7];
    DiagCodec::BlockWriteHeader(address, length, header);
    CHdlcFrameWriter writer({out, CHdlcAdapter::WRITE_BUFFER_SIZE});
    writer.Begin(true);
    writer.Append(header, 7);
    writer.Append(data, length);
    writer.Finish();
    return writer.Length();
}

void BM_BlockRoundTripAdapter(benchmark::State& state)
{
    kivtest::TcpPeer peer;
    Acknowledge(peer);
    CHdlcAdapter adapter;
    if (!adapter.Open("127.0.0.1", peer.Port(), INetPort::PORT_TYPE_TCP) || !adapter.StartReader()) {
        state.SkipWithError("adapter did not open");
        return;
    }
    const auto data = RandomBytes(BLOCK);
    uint32_t address = 0x00100000;
    uint8_t ack[5];
    uint32_t ackLength = 0;
    for (auto _ : state) {
        const uint32_t frameLength = BuildBlockFrame(adapter.WriteBuffer(), address, data.data(), BLOCK);
        const uint8_t pattern[5] = {0x02, uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8),
                                    uint8_t(address)};
        adapter.Responses().SetMatchPattern(pattern, 5);
        if (!adapter.Write(CHdlcAdapter::WriteAs::Raw, adapter.WriteBuffer(), frameLength, 3000) ||
            !adapter.Read(ack, sizeof(ack), &ackLength, 0, 5000)) {
            state.SkipWithError("block not acknowledged");
            break;
        }
        address += BLOCK;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * BLOCK);
}
BENCHMARK(BM_BlockRoundTripAdapter)->UseRealTime();

void BM_BlockRoundTripBareTcp(benchmark::State& state)
{
    kivtest::TcpPeer peer;
    Acknowledge(peer);
    CUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(peer.Port());
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    const auto data = RandomBytes(BLOCK);
    std::vector<uint8_t> frame(CHdlcAdapter::WRITE_BUFFER_SIZE);
    uint32_t address = 0x00100000;
    uint8_t reply[64];
    for (auto _ : state) {
        const uint32_t frameLength = BuildBlockFrame(frame.data(), address, data.data(), BLOCK);
        if (::send(fd.Get(), frame.data(), frameLength, MSG_NOSIGNAL) != ssize_t(frameLength)) {
            state.SkipWithError("send failed");
            break;
        }
        // Read until the acknowledgement frame's closing flag.
        bool done = false;
        while (!done) {
            ssize_t n = ::recv(fd.Get(), reply, sizeof(reply), 0);
            if (n <= 0) {
                state.SkipWithError("recv failed");
                return;
            }
            done = reply[n - 1] == HDLC_FLAG;
        }
        address += BLOCK;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * BLOCK);
}
BENCHMARK(BM_BlockRoundTripBareTcp)->UseRealTime();

// Both round trips interleaved, block by block, so that the load of a shared machine falls on
// both alike; reports the mean of each and their ratio.
void BM_BlockRoundTripInterleaved(benchmark::State& state)
{
    kivtest::TcpPeer adapterPeer;
    kivtest::TcpPeer barePeer;
    Acknowledge(adapterPeer);
    Acknowledge(barePeer);
    CHdlcAdapter adapter;
    CUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(barePeer.Port());
    if (!adapter.Open("127.0.0.1", adapterPeer.Port(), INetPort::PORT_TYPE_TCP) || !adapter.StartReader() ||
        ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        state.SkipWithError("set-up failed");
        return;
    }
    const auto data = RandomBytes(BLOCK);
    std::vector<uint8_t> frame(CHdlcAdapter::WRITE_BUFFER_SIZE);
    uint32_t address = 0x00100000;
    double adapterNs = 0;
    double bareNs = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        auto t0 = Clock::now();
        const uint32_t frameLength = BuildBlockFrame(adapter.WriteBuffer(), address, data.data(), BLOCK);
        const uint8_t pattern[5] = {0x02, uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8),
                                    uint8_t(address)};
        adapter.Responses().SetMatchPattern(pattern, 5);
        uint8_t ack[5];
        uint32_t ackLength = 0;
        if (!adapter.Write(CHdlcAdapter::WriteAs::Raw, adapter.WriteBuffer(), frameLength, 3000) ||
            !adapter.Read(ack, sizeof(ack), &ackLength, 0, 5000)) {
            state.SkipWithError("block not acknowledged");
            break;
        }
        auto t1 = Clock::now();
        const uint32_t bareLength = BuildBlockFrame(frame.data(), address, data.data(), BLOCK);
        ::send(fd.Get(), frame.data(), bareLength, MSG_NOSIGNAL);
        uint8_t reply[64];
        for (bool done = false; !done;) {
            ssize_t n = ::recv(fd.Get(), reply, sizeof(reply), 0);
            if (n <= 0) {
                state.SkipWithError("recv failed");
                return;
            }
            done = reply[n - 1] == HDLC_FLAG;
        }
        auto t2 = Clock::now();
        adapterNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        bareNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
        address += BLOCK;
    }
    const double n = double(state.iterations());
    state.counters["adapter_us"] = adapterNs / n / 1000.0;
    state.counters["bare_us"] = bareNs / n / 1000.0;
    state.counters["ratio"] = bareNs > 0 ? adapterNs / bareNs : 0;
}
BENCHMARK(BM_BlockRoundTripInterleaved)->UseRealTime();

} // namespace
