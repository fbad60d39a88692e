#pragma once

#include <string>

// Ties a socket to one network interface (SO_BINDTODEVICE), so that everything it sends
// leaves through that interface and it receives only what arrived there, even when another
// interface is on the same subnet. Binding only the source address would not do: the
// kernel routes unicast by destination and picks the first interface of the subnet.
//
// Since Linux 5.7 any program may do this; older kernels refuse it with EPERM unless the
// program has CAP_NET_RAW (root has).

// Ties `fd` to `interfaceName`; an empty name leaves the socket as it is. False with errno set.
bool TieSocketToInterface(int fd, const std::string& interfaceName);

// Tries to tie a fresh socket to `interfaceName`: 0 when it works, else the errno value.
int ProbeInterfaceTie(const std::string& interfaceName);

// A sentence for the user saying why sockets cannot be tied to `interfaceName` (`err`
// from ProbeInterfaceTie), with what to do about EPERM.
std::string ExplainTieError(const std::string& interfaceName, int err);
