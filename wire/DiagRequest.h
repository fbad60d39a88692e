#pragma once

#include <cstdint>

#include "wire/DiagProtocol.h"

// One DIAG request as a command builds it: up to 132 request bytes (133 for the NV block
// requests), the request length, the expected answer length (0 = any length) and the
// pattern its answer begins with (the match pattern of the response queue).
struct DiagRequest {
    static constexpr uint32_t MAX_LENGTH = DiagProtocol::NV_BLOCK_LENGTH;
    static constexpr uint32_t MAX_PATTERN = DiagProtocol::BLOCK_ACK_LENGTH;

    uint8_t bytes[MAX_LENGTH] = {};
    uint32_t length = 0;
    uint32_t expectedLength = 0;
    uint8_t pattern[MAX_PATTERN] = {};
    uint32_t patternLength = 0;
};
