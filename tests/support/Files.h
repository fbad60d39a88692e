#pragma once

// Small file and text helpers.

#include <cstdint>
#include <string>
#include <vector>

namespace kivtest {

// The whole file as bytes in a string; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// The same for a file the test relies on (a transcript, a download log): one that cannot be
// read is a test failure, so that "nothing of X in it" never passes on a file that was never
// written.
std::string ReadRequiredFile(const std::string& path);

// Writes `bytes` as the whole file; false when it cannot be written.
bool WriteFile(const std::string& path, const std::string& bytes);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// XORs the byte at `offset` of the file with `mask`, in place; false when it cannot.
bool FlipByte(const std::string& path, size_t offset, uint8_t mask = 0x5A);

// How often `what` occurs in `text` (occurrences do not overlap).
int CountOf(const std::string& text, const std::string& what);

// `path` written with the system's own separator: every '/' a '\\' on Windows; as it is on
// POSIX. Lets one table of expected paths serve both systems.
std::string NativePath(std::string path);

} // namespace kivtest
