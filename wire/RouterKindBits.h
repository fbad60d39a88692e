#pragma once

#include <cstddef>
#include <cstdint>

// The kind bits of a router-module image: the 32-bit little-endian word at offset 12 of its
// part 0 data, which say which component the image is. Bits 1-2 name the family A
// component (0 APP, 1 BOOT, 2 Customization) or, with 3, family B; then bits 3-4 name the
// family B component (0 APP, 1 Configuration File, 2 Common Html Resource, 3 Special Html
// Code). The other bits mean nothing here.

constexpr size_t ROUTER_KIND_BITS_OFFSET = 12;

// The family A component the bits name (IMG_BOOT, IMG_APP or IMG_CUSTOMIZATION); IMG_NONE
// for a family B image.
uint32_t RouterFamilyAType(uint32_t kindBits);
// The family B component the bits name; IMG_NONE for a family A image.
uint32_t RouterFamilyBType(uint32_t kindBits);
// The component the bits name, of either family.
uint32_t RouterImageType(uint32_t kindBits);
// The kind bits that name `type` (IMG_BOOT to IMG_CONFIG_FILE); 0 for any other type.
uint32_t RouterKindBits(uint32_t type);
