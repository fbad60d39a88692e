#pragma once

#include <string>

class CSocketLibrary;

// What a program says when the socket library it started cannot be used: the system's text
// for a failed start, or message 138 (the offered version as major and minor number) when
// Winsock offers a version other than 2.2. Empty when the library is usable.
std::string SocketLibraryProblem(const CSocketLibrary& sockets);
