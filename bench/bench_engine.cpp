// Upgrade engine against the virtual router (a separate process) on loopback:
//  - a full family A upgrade with the 16 MB five-part firmware: time beyond the engine's
//    fixed pauses, and the peak heap during the run;
//  - the router image data rate against a plain TCP bulk transfer of the same size;
//  - the firmware per-block round trip against a bare TCP request/response.
// Baselines are measured in the same run. KIV_BENCH_SCALE sets the time scale (default 1:
// real pauses; a smaller scale shrinks the pauses and so inflates the overhead share).

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engine/CListModel.h"
#include "engine/CRouterSession.h"
#include "engine/CUpgradeEngine.h"
#include "images/CImageBuilder.h"
#include "images/CSampleImage.h"
#include "platform/CEvent.h"
#include "platform/CUniqueFd.h"
#include "platform/Clock.h"
#include "platform/UserFiles.h"

extern char** environ;

// ---- heap accounting: every C++ allocation, live bytes and their peak ----------------

namespace {
std::atomic<int64_t> g_HeapLive{0};
std::atomic<int64_t> g_HeapPeak{0};

void CountAlloc(void* p)
{
    if (p == nullptr)
        return;
    const int64_t live = g_HeapLive.fetch_add(static_cast<int64_t>(malloc_usable_size(p))) +
                         static_cast<int64_t>(malloc_usable_size(p));
    int64_t peak = g_HeapPeak.load(std::memory_order_relaxed);
    while (live > peak && !g_HeapPeak.compare_exchange_weak(peak, live)) {
    }
}

void* Allocate(size_t n)
{
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr)
        throw std::bad_alloc();
    CountAlloc(p);
    return p;
}

void Release(void* p)
{
    if (p == nullptr)
        return;
    g_HeapLive.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)));
    std::free(p);
}
} // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    void* p = std::malloc(n == 0 ? 1 : n);
    CountAlloc(p);
    return p;
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double BenchScale()
{
    const char* text = std::getenv("KIV_BENCH_SCALE");
    const double scale = text != nullptr ? std::atof(text) : 1.0;
    return scale > 0 ? scale : 1.0;
}

// Download log of the runs: KIV_BENCH_LOG, else none.
std::string BenchLogPath()
{
    const char* path = std::getenv("KIV_BENCH_LOG");
    return path != nullptr ? path : "";
}

// ---- the simulator as a child process ---------------------------------------------

class SimProcess {
public:
    bool Start(double scale)
    {
        const std::string exe = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "sim" /
                                "kivrouter-sim";
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::string scaleText = std::to_string(scale);
        std::vector<std::string> args = {exe,      "--address",    "127.0.0.1", "--router-port",  "0", "--telnet-port",
                                         "0",      "--flash-time", "0",         "--restart-time", "0", "--time-scale",
                                         scaleText};
        if (const char* transcript = std::getenv("KIV_BENCH_TRANSCRIPT")) {
            args.push_back("--transcript");
            args.push_back(transcript);
        }
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_Pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            m_Pid = -1;
            return false;
        }
        std::string line;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(fds[0]);
        const size_t at = line.find("router-port=");
        if (line.find("ready") == std::string::npos || at == std::string::npos)
            return false;
        m_nPort = static_cast<uint16_t>(std::atoi(line.c_str() + at + 12));
        return m_nPort != 0;
    }

    void Stop()
    {
        if (m_Pid > 0) {
            kill(m_Pid, SIGTERM);
            int status = 0;
            waitpid(m_Pid, &status, 0);
            m_Pid = -1;
        }
    }

    ~SimProcess() { Stop(); }
    uint16_t Port() const { return m_nPort; }

private:
    pid_t m_Pid = -1;
    uint16_t m_nPort = 0;
};

// ---- sample images written to files (mapped, never copied) --------------------------

std::string SampleDir()
{
    static const std::string SAMPLE_DIR = [] {
        const std::string d = GetTempDirectory() + "kiv-bench-engine-" + std::to_string(getpid());
        std::string error;
        if (!SampleImage::WriteSamples(d, SampleImage::DEFAULT_FIRMWARE_SIZE, error))
            std::fprintf(stderr, "samples: %s\n", error.c_str());
        return d;
    }();
    return SAMPLE_DIR;
}

std::string BigRouterImage(uint32_t payloadSize)
{
    const std::string path = SampleDir() + "/big-app.bin";
    if (std::filesystem::exists(path))
        return path;
    CImageBuilder builder;
    builder.SetFileType(FILE_TYPE_ROUTER);
    builder.SetVersion("9.9.9.9");
    CImageBuilder::Part part;
    part.m_Magic = PART_MAGIC_HDR0;
    part.m_UnlockCode = "ROUTER01";
    std::vector<uint8_t> payload(payloadSize);
    for (uint32_t i = 0; i < payloadSize; ++i)
        payload[i] = static_cast<uint8_t>(i * 131u + (i >> 9));
    part.m_Data = SampleImage::MakeRouterData(RouterKindBits(IMG_APP), "9.9.9.9", payload);
    builder.AddPart(std::move(part));
    std::string error;
    builder.WriteFile(path, error);
    return path;
}

bool OpenImage(ComponentEntry& entry, const std::string& path, uint32_t type)
{
    entry.m_Image.SetPath(path);
    entry.m_UpgradeFlag = 1;
    return entry.m_Image.Open(type) && entry.m_Image.GetType() == type;
}

// Status texts as they appear, with the moment they appear.
struct StatusTimeline {
    std::mutex lock;
    std::vector<std::pair<std::string, Clock::time_point>> events;

    void Attach(CListModel& list)
    {
        list.SetChangeCallback([this, &list](int row, int column) {
            if (row < 0 || (column != IComponentList::COL_STATUS && column != IComponentList::COL_PERCENT))
                return;
            // Percentages are recorded as "%" followed by the cell text.
            const std::string text = (column == IComponentList::COL_PERCENT ? "%" : "") + list.GetItemText(row, column);
            std::lock_guard guard(lock);
            events.emplace_back(text, Clock::now());
        });
    }

    // Time from the first status `from` to the first later status `to`.
    double Between(const std::string& from, const std::string& to)
    {
        std::lock_guard guard(lock);
        auto a = std::find_if(events.begin(), events.end(), [&](auto& e) { return e.first == from; });
        if (a == events.end())
            return 0;
        auto b = std::find_if(a, events.end(), [&](auto& e) { return e.first == to; });
        return b == events.end() ? 0 : Seconds(b->second - a->second);
    }
};

void PrepareEngine(CUpgradeEngine& engine, CRouterSession& session, CListModel& list, uint16_t port)
{
    for (int i = 0; i < 6; ++i)
        list.InsertItem(i, "component");
    engine.SetList(&list);
    session.SetRouter({127, 0, 0, 1}, {0x02, 0x4B, 0x49, 0x56, 0x00, 0x01});
    session.SetPorts(port, TELNET_PORT);
}

// ---- plain TCP baselines on loopback ---------------------------------------------

struct LoopbackPair {
    CUniqueFd client;
    CUniqueFd server;

    bool Open()
    {
        CUniqueFd listener(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listener.Get(), 1) != 0 ||
            getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return false;
        client = CUniqueFd(socket(AF_INET, SOCK_STREAM, 0));
        if (connect(client.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return false;
        server = CUniqueFd(accept(listener.Get(), nullptr, nullptr));
        const int one = 1;
        setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(server.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return server.Valid();
    }
};

bool SendAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool ReceiveAll(int fd, uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t k = recv(fd, p, n, 0);
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

// Seconds to send `total` bytes in 7300-byte writes to a reader that drains them.
double PlainBulkSeconds(size_t total)
{
    LoopbackPair pair;
    if (!pair.Open())
        return 0;
    std::thread reader([&] {
        std::vector<uint8_t> buffer(65536);
        size_t got = 0;
        while (got < total) {
            const ssize_t k = recv(pair.server.Get(), buffer.data(), buffer.size(), 0);
            if (k <= 0)
                break;
            got += static_cast<size_t>(k);
        }
    });
    std::vector<uint8_t> chunk(7300, 0x5A);
    const auto start = Clock::now();
    for (size_t sent = 0; sent < total;) {
        const size_t n = std::min(chunk.size(), total - sent);
        if (!SendAll(pair.client.Get(), chunk.data(), n))
            break;
        sent += n;
    }
    reader.join();
    return Seconds(Clock::now() - start);
}

// Mean seconds of one request/response: a 4110-byte request answered with 7 bytes.
double PlainRoundTripSeconds(int count)
{
    LoopbackPair pair;
    if (!pair.Open())
        return 0;
    std::thread echo([&] {
        std::vector<uint8_t> request(4110);
        const uint8_t answer[7] = {0x02, 0, 0, 0, 0, 0x12, 0x7E};
        for (int i = 0; i < count; ++i) {
            if (!ReceiveAll(pair.server.Get(), request.data(), request.size()) ||
                !SendAll(pair.server.Get(), answer, sizeof answer))
                break;
        }
    });
    std::vector<uint8_t> request(4110, 0x33);
    uint8_t answer[7];
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        if (!SendAll(pair.client.Get(), request.data(), request.size()) ||
            !ReceiveAll(pair.client.Get(), answer, sizeof answer))
            break;
    }
    const double seconds = Seconds(Clock::now() - start);
    echo.join();
    return seconds / count;
}

// The same exchange, but the answer is received by a reader thread and handed to the
// requesting thread through an event: the shape of the channel (reader thread + queue).
double HandedOverRoundTripSeconds(int count)
{
    LoopbackPair pair;
    if (!pair.Open())
        return 0;
    std::thread echo([&] {
        std::vector<uint8_t> request(4110);
        const uint8_t answer[7] = {0x02, 0, 0, 0, 0, 0x12, 0x7E};
        for (int i = 0; i < count; ++i) {
            if (!ReceiveAll(pair.server.Get(), request.data(), request.size()) ||
                !SendAll(pair.server.Get(), answer, sizeof answer))
                break;
        }
    });
    CEvent arrived;
    std::thread reader([&] {
        uint8_t answer[7];
        for (int i = 0; i < count; ++i) {
            if (!ReceiveAll(pair.client.Get(), answer, sizeof answer))
                break;
            arrived.Set();
        }
    });
    std::vector<uint8_t> request(4110, 0x33);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        if (!SendAll(pair.client.Get(), request.data(), request.size()) || !arrived.Wait(INFINITE))
            break;
    }
    const double seconds = Seconds(Clock::now() - start);
    echo.join();
    reader.join();
    return seconds / count;
}

// ---- benchmarks ----------------------------------------------------------------------

void BM_FamilyAUpgrade(benchmark::State& state)
{
    const double scale = BenchScale();
    SetTimeScale(scale);
    const std::string dir = SampleDir() + "/a/";
    static ComponentEntry table[COMPONENT_COUNT];
    if (!OpenImage(table[0], dir + "boot.bin", 0) || !OpenImage(table[1], dir + "app.bin", 1) ||
        !OpenImage(table[2], dir + "customization.bin", 2) || !OpenImage(table[7], dir + "firmware.bin", 7) ||
        !OpenImage(table[8], dir + "dashboard_ZQPX.bin", 8)) {
        state.SkipWithError("sample images missing");
        return;
    }
    const double rtt = PlainRoundTripSeconds(2000);
    const double handedOver = HandedOverRoundTripSeconds(2000);
    for (auto _ : state) {
        SimProcess sim;
        if (!sim.Start(scale)) {
            state.SkipWithError("kivrouter-sim did not start");
            return;
        }
        CListModel list;
        StatusTimeline timeline;
        CRouterSession session(BenchLogPath());
        CUpgradeEngine engine(session, table);
        PrepareEngine(engine, session, list, sim.Port());
        timeline.Attach(list);

        const int64_t heapBefore = g_HeapLive.load();
        g_HeapPeak = heapBefore;
        const auto start = Clock::now();
        CUpgradeEngine::UpgradeThread(&engine);
        const double total = Seconds(Clock::now() - start);
        const int64_t heapPeak = g_HeapPeak.load() - heapBefore;
        sim.Stop();

        const auto outcome = engine.GetRunOutcome();
        if (outcome.bFailed) {
            state.SkipWithError(("upgrade failed: " + outcome.strResultText).c_str());
            return;
        }
        const double pauses = static_cast<double>(engine.GetPausedMs()) * scale / 1000.0;
        const uint32_t firmwareBytes = table[7].m_Image.GetTotalLength();
        uint32_t blocks = 0;
        for (size_t part = 0; part < table[7].m_Image.GetPartCount(); ++part)
            blocks += (table[7].m_Image.GetSpan(part).m_nLength + 4095) / 4096;
        const double download =
            timeline.Between("Downloading the firmware of the wireless module", "Restarting the wireless module");
        const double perBlock = blocks ? download / blocks : 0;

        state.SetIterationTime(total);
        state.counters["total_s"] = total;
        state.counters["pauses_s"] = pauses;
        state.counters["beyond_pauses_pct"] = total > 0 ? 100.0 * (total - pauses) / total : 0;
        state.counters["firmware_MB"] = firmwareBytes / 1048576.0;
        state.counters["firmware_blocks"] = blocks;
        state.counters["block_rtt_us"] = perBlock * 1e6;
        state.counters["plain_rtt_us"] = rtt * 1e6;
        state.counters["block_rtt_vs_plain"] = rtt > 0 ? perBlock / rtt : 0;
        state.counters["handed_over_rtt_us"] = handedOver * 1e6;
        state.counters["block_rtt_vs_handed_over"] = handedOver > 0 ? perBlock / handedOver : 0;
        state.counters["peak_heap_KB"] = static_cast<double>(heapPeak) / 1024.0;
        state.counters["peak_heap_vs_firmware_pct"] = 100.0 * static_cast<double>(heapPeak) / firmwareBytes;
    }
}
BENCHMARK(BM_FamilyAUpgrade)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_RouterImageRate(benchmark::State& state)
{
    const double scale = BenchScale();
    SetTimeScale(scale);
    static ComponentEntry table[COMPONENT_COUNT];
    if (!OpenImage(table[1], BigRouterImage(16u * 1024u * 1024u), 1)) {
        state.SkipWithError("router image missing");
        return;
    }
    const uint32_t bytes = table[1].m_Image.GetSpan(0).m_nLength;
    for (auto _ : state) {
        SimProcess sim;
        if (!sim.Start(scale)) {
            state.SkipWithError("kivrouter-sim did not start");
            return;
        }
        CListModel list;
        StatusTimeline timeline;
        CRouterSession session(BenchLogPath());
        CUpgradeEngine engine(session, table);
        PrepareEngine(engine, session, list, sim.Port());
        timeline.Attach(list);
        CUpgradeEngine::UpgradeThread(&engine);
        sim.Stop();
        // From the start of the data to the moment the last chunk was written (100%).
        const double engineSeconds = timeline.Between("Transmitting the upgrade data of the router module", "%100%");
        const double plainSeconds = PlainBulkSeconds(bytes);
        state.SetIterationTime(engineSeconds);
        const double engineRate = engineSeconds > 0 ? bytes / engineSeconds / 1048576.0 : 0;
        const double plainRate = plainSeconds > 0 ? bytes / plainSeconds / 1048576.0 : 0;
        state.counters["image_MB"] = bytes / 1048576.0;
        state.counters["engine_MBps"] = engineRate;
        state.counters["plain_tcp_MBps"] = plainRate;
        state.counters["engine_vs_plain"] = plainRate > 0 ? engineRate / plainRate : 0;
    }
}
BENCHMARK(BM_RouterImageRate)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
