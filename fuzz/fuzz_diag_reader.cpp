// The channel reader fed an arbitrary byte stream: frame collection, decoding and storing
// into the response queue, plus an encode/decode round trip of every frame found.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "diag/CHdlcFrameCollector.h"
#include "diag/CResponseQueue.h"
#include "wire/HdlcFraming.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CHdlcFrameCollector collector;
    CResponseQueue queue;
    queue.SetMatchPattern(data, size < 4 ? uint32_t(size) : 4);
    std::vector<uint8_t> frame;
    std::vector<uint8_t> back;
    for (size_t i = 0; i < size; ++i) {
        if (collector.Push(data[i]) != CHdlcFrameCollector::Result::Frame)
            continue;
        const uint32_t length = collector.PayloadLength();
        if (length == 0 || length > CHdlcFrameCollector::CAPACITY)
            abort();
        queue.Store(collector.Payload(), length);
        frame.resize(HdlcMaxFrameLength(length));
        const uint32_t frameLength = HdlcEncode(collector.Payload(), length, frame, int(i & 1));
        if (frameLength == 0 || frameLength > frame.size())
            abort();
        back.resize(frameLength);
        if (HdlcDecode(frame.data(), frameLength, back.data()) != length ||
            std::memcmp(back.data(), collector.Payload(), length) != 0)
            abort();
    }
    uint8_t answer[64];
    uint32_t answerLength = 0;
    queue.WaitResponse(answer, sizeof(answer), &answerLength, 0);
    if (answerLength > sizeof(answer))
        abort();

    // The whole input as one frame, decoded in place.
    std::vector<uint8_t> copy(data, data + size);
    const uint32_t decoded = HdlcDecode(copy.data(), uint32_t(copy.size()), copy.data());
    if (decoded > size)
        abort();
    return 0;
}
