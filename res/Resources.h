#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Data compiled into the program: the string table, the title, the embedded images and
// the help file. The bytes live in the program image, are read-only and stay valid for
// the life of the process.

struct ResourceBytes {
    const uint8_t* data;
    size_t size;
};

// Resource `id` of `type` ("BINARY", "STRING", "CHM"). Nothing when the resource is
// missing or not longer than one byte (the one-byte "0" flag resources count as missing).
std::optional<ResourceBytes> LoadResourceBytes(uint32_t id, const char* type);

// String-table entry `id` as UTF-8; empty when the table has no such entry.
std::string LoadStringResource(uint32_t id);

// The same, reporting whether the entry exists. `text` is left unchanged when it does not.
bool LoadStringResource(uint32_t id, std::string& text);
