#pragma once

#include <cstdint>

// One DIAG request as a command builds it: up to 132 request bytes (133 for the NV block
// requests), the request length and the expected answer length (0 = any length).
struct DiagRequest {
    static constexpr uint32_t kMaxLength = 133;

    uint8_t bytes[kMaxLength] = {};
    uint32_t length = 0;
    uint32_t expectedLength = 0;
};
