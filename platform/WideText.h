#pragma once

#ifdef _WIN32

#include <string>

// Text at the Windows API boundary. The code keeps UTF-8 everywhere; every Windows call
// takes and gives UTF-16 (the W functions). Invalid UTF-8 becomes U+FFFD, an unpaired
// surrogate from Windows likewise.

std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const wchar_t* text, size_t length);
std::string Utf8FromWide(const std::wstring& text);

#endif
