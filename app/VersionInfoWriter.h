#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Builds a version resource in the binary VS_VERSIONINFO layout: the root block with the
// 52-byte fixed file information, a StringFileInfo block with one string table, and
// (optionally) a VarFileInfo block with the Translation value. Every block is
// wLength, wValueLength, wType, a zero-terminated UTF-16LE key, padding to 32 bits, the
// value, padding, then the children.
struct VersionInfoContent {
    uint16_t fileVersion[4] = {0, 0, 0, 0};
    uint16_t productVersion[4] = {0, 0, 0, 0};
    std::string tableKey = "040904b0";
    std::vector<std::pair<std::string, std::string>> strings;
    bool withTranslation = true;
    uint16_t language = 0x0409;
    uint16_t codePage = 0x04b0;
};

std::vector<uint8_t> BuildVersionInfo(const VersionInfoContent& content);
