#pragma once

#include <cstdint>
#include <string>

// The operating system's own text for an error number: an errno value on POSIX, a system
// or Winsock error code (GetLastError, WSAGetLastError) on Windows. Without a trailing line
// end; empty when the system has no text for the number.
std::string SystemErrorText(uint32_t code);

#ifdef _WIN32
// The errno value that stands for a Windows error code, for the interfaces that report
// errno values on every platform (CReadOnlyFile, OpenUserFile). EIO for codes without one.
int ErrnoFromWindowsError(unsigned long error);
#endif
