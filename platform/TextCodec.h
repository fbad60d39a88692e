#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Text is UTF-8 everywhere (it stands in for the ANSI code page); resources that hold
// UTF-16 text are converted at the edge.

// Converts little-endian UTF-16 bytes to UTF-8, stopping at the first zero code unit or at
// the end of the bytes. Unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* data, size_t size);

// Converts UTF-8 to UTF-16 code units. A byte that does not begin a well-formed sequence
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short)
// becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);

// Cuts `text` to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string TruncateUtf8(const std::string& text, size_t maxBytes);

// Text received from a peer (the router, the wireless module, a host on the LAN) or read
// from a file, made safe to show, log and print on a terminal: valid UTF-8 sequences pass,
// while every byte that does not belong to one and every control character (C0, DEL and
// C1, so no terminal escape sequence survives; the bidirectional marks, overrides and
// isolates and the line and paragraph separators, so nothing reorders a table) becomes
// U+FFFD.
// With `keepLineFeeds`, LF stays (for messages of several lines written by the program).
std::string MakePrintable(const uint8_t* bytes, size_t count, bool keepLineFeeds = false);
std::string MakePrintable(const std::string& text, bool keepLineFeeds = false);
