// A libFuzzer target that fails on purpose, one failure per build (KIV_FAULT_CRASH, _LEAK,
// _TIMEOUT or _OOM). It is never shipped or run as a real target: the self-test of
// scripts/fuzz.sh runs it to show that each kind of finding fails the command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {
void* volatile g_Sink = nullptr;
volatile uint64_t g_Spin = 0;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0; // the kept input is then a real one
#if defined(KIV_FAULT_CRASH)
    // Reads one byte past a heap block: AddressSanitizer reports a heap-buffer-overflow.
    std::vector<uint8_t> copy(data, data + size);
    g_Spin = copy.data()[size];
#elif defined(KIV_FAULT_LEAK)
    g_Sink = std::malloc(size + 16);
    g_Sink = nullptr; // the block is now unreachable
#elif defined(KIV_FAULT_TIMEOUT)
    for (;;)
        g_Spin = g_Spin + 1;
#elif defined(KIV_FAULT_OOM)
    g_Sink = std::malloc(size_t(3) << 30); // over the 2048 MB limit fuzz.sh sets
    std::free(g_Sink);
#else
#error "define one of KIV_FAULT_CRASH, KIV_FAULT_LEAK, KIV_FAULT_TIMEOUT, KIV_FAULT_OOM"
#endif
    (void)data;
    return 0;
}
