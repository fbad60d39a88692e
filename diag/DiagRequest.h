#pragma once

#include <cstdint>

#include "diag/DiagProtocol.h"

// One DIAG request as a command builds it: up to 132 request bytes (133 for the NV block
// requests), the request length and the expected answer length (0 = any length).
struct DiagRequest {
    static constexpr uint32_t kMaxLength = DiagProtocol::NV_BLOCK_LENGTH;

    uint8_t bytes[kMaxLength] = {};
    uint32_t length = 0;
    uint32_t expectedLength = 0;
};
