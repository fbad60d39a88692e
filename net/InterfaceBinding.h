#pragma once

#include <string>
#include <system_error>

#include "net/Socket.h"

// Ties a socket to one network interface, so that everything it sends leaves through that
// interface and it receives only what arrived there, even when another interface is on the
// same subnet. Binding only the source address would not do: the system routes unicast by
// destination and picks the first interface of the subnet.
//
// On Linux this is SO_BINDTODEVICE, which since Linux 5.7 any program may set; older
// kernels refuse it with EPERM unless the program has CAP_NET_RAW (root has). On Windows
// the interface is an adapter, named by its name or its friendly name; the socket's
// unicast traffic goes out through it (IP_UNICAST_IF).

// Ties `socket` to `interfaceName`; an empty name leaves the socket as it is.
std::error_code TieSocketToInterface(NativeSocket socket, const std::string& interfaceName);

// Tries to tie a fresh socket to `interfaceName`: 0 when it works, else the system's error
// number (SocketError(SocketErrc::NoSuchDevice) for a name no interface has).
int ProbeInterfaceTie(const std::string& interfaceName);

// A sentence for the user saying why sockets cannot be tied to `interfaceName` (`err`
// from ProbeInterfaceTie), with what to do about it where something can be done.
std::string ExplainTieError(const std::string& interfaceName, int err);
