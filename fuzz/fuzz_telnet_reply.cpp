// Arbitrary received bytes through the Telnet receive buffer and the reply splitter.
// The first byte chooses the size of the receive chunks; the rest is the received stream.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/CLockedBuffer.h"
#include "net/CTelnetClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t chunk = 1 + data[0] * 8u;
    ++data;
    --size;

    CLockedBuffer buffer(static_cast<int>(chunk % 64));
    size_t appended = 0;
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        if (buffer.Append(data + at, static_cast<int>(n)))
            appended += n;
    }
    if (buffer.GetLength() > CLockedBuffer::MAX_CAPACITY || buffer.GetLength() > buffer.GetCapacity())
        std::abort();

    uint8_t reply[CTelnetClient::MAX_REPLY_BYTES + 3];
    const int taken = buffer.Fetch(reply, CTelnetClient::MAX_REPLY_BYTES, 0, true);
    if (taken < 0 || taken > CTelnetClient::MAX_REPLY_BYTES || buffer.GetLength() != 0)
        std::abort();
    if (appended == size && std::memcmp(reply, data, static_cast<size_t>(taken)) != 0)
        std::abort();

    size_t total = 0;
    for (const std::string& line : CTelnetClient::SplitReply(reply, static_cast<size_t>(taken))) {
        if (line.find('\0') != std::string::npos || line.find("\r\n") != std::string::npos)
            std::abort();
        total += line.size() + 2;
    }
    if (total > static_cast<size_t>(taken) + 2)
        std::abort();
    return 0;
}
