#pragma once

#include <cstddef>
#include <cstdint>

namespace kivtest {

// While it lives, every send of at least `minLength` bytes to 127.0.0.1:`peerPort` (on a
// connection to that port, or a datagram sent there) is refused with EPERM, as Linux
// refuses a send that a firewall rule of the OUTPUT chain drops. It needs no firewall and no
// privilege: the test program's own sendto stands in front of the C library's (POSIX only).
// One at a time.
class SendRefusal {
public:
    SendRefusal(uint16_t peerPort, size_t minLength);
    ~SendRefusal();
    SendRefusal(const SendRefusal&) = delete;
    SendRefusal& operator=(const SendRefusal&) = delete;

    // How many sends were refused so far.
    int Refused() const;
};

} // namespace kivtest
