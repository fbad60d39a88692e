// IsMatch, Store and WaitResponse with arbitrary patterns and payloads. Input: one byte of
// pattern length (0..20), the pattern, then payloads each prefixed by a length byte.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "diag/CResponseQueue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    CResponseQueue queue;
    size_t pos = 1;
    const uint32_t patternLength = std::min<uint32_t>(data[0] % 21, uint32_t(size - pos));
    queue.SetMatchPattern(data + pos, patternLength);
    pos += patternLength;

    std::vector<std::vector<uint8_t>> matching;
    int stored = 0;
    while (pos < size) {
        const uint8_t prefix = data[pos++];
        const uint32_t length = std::min<uint32_t>(prefix, uint32_t(size - pos));
        const bool accepted = queue.Store(data + pos, length);
        if (accepted != (stored < CResponseQueue::MAX_ENTRIES))
            abort();
        if (accepted) {
            ++stored;
            if (queue.IsMatch(data + pos, length))
                matching.emplace_back(data + pos, data + pos + length);
        }
        pos += length;
    }
    uint8_t answer[32];
    uint32_t answerLength = 0xFFFFFFFF;
    const bool found = queue.WaitResponse(answer, sizeof(answer), &answerLength, 0);
    if (found != !matching.empty())
        abort();
    if (found) {
        const std::vector<uint8_t>& newest = matching.back();
        const size_t expected = std::min<size_t>(newest.size(), sizeof(answer));
        if (answerLength != expected || (expected != 0 && std::memcmp(answer, newest.data(), expected) != 0))
            abort();
    }
    if (queue.GetCount() != 0)
        abort();
    return 0;
}
