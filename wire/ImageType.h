#pragma once

#include <cstdint>

// Image type codes. An image's code is also the index of the component it belongs to in the
// component table, the row it is shown in before the other family's rows are removed, and
// what the engine upgrades it as.
constexpr uint32_t IMG_BOOT = 0;          // BOOT of the router module (family A)
constexpr uint32_t IMG_APP = 1;           // APP of the router module (family A)
constexpr uint32_t IMG_CUSTOMIZATION = 2; // Customization of the router module (family A)
constexpr uint32_t IMG_COMMON_HTML = 3;   // Common Html Resource (family B)
constexpr uint32_t IMG_SPECIAL_HTML = 4;  // Special Html Code (family B)
constexpr uint32_t IMG_APP_B = 5;         // APP of the router module (family B)
constexpr uint32_t IMG_CONFIG_FILE = 6;   // Configuration File (family B)
constexpr uint32_t IMG_FIRMWARE = 7;      // Firmware of the wireless module
constexpr uint32_t IMG_DASHBOARD = 8;     // Dashboard of the wireless module
constexpr uint32_t IMG_NONE = 9;          // no image, or one not recognised
constexpr uint32_t IMG_TYPE_COUNT = 9;
