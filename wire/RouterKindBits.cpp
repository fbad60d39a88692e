#include "wire/RouterKindBits.h"

#include "wire/ImageType.h"

namespace {

constexpr uint32_t FAMILY_SHIFT = 1;   // bits 1-2
constexpr uint32_t FAMILY_B_SHIFT = 3; // bits 3-4
constexpr uint32_t FIELD_MASK = 3;
constexpr uint32_t FAMILY_B = 3; // the value of bits 1-2 that hands over to bits 3-4

// By the value of each field.
constexpr uint32_t FAMILY_A_TYPES[4] = {IMG_APP, IMG_BOOT, IMG_CUSTOMIZATION, IMG_NONE};
constexpr uint32_t FAMILY_B_TYPES[4] = {IMG_APP_B, IMG_CONFIG_FILE, IMG_COMMON_HTML, IMG_SPECIAL_HTML};

uint32_t FamilyField(uint32_t kindBits) { return (kindBits >> FAMILY_SHIFT) & FIELD_MASK; }
uint32_t FamilyBField(uint32_t kindBits) { return (kindBits >> FAMILY_B_SHIFT) & FIELD_MASK; }

} // namespace

uint32_t RouterFamilyAType(uint32_t kindBits) { return FAMILY_A_TYPES[FamilyField(kindBits)]; }

uint32_t RouterFamilyBType(uint32_t kindBits)
{
    return FamilyField(kindBits) == FAMILY_B ? FAMILY_B_TYPES[FamilyBField(kindBits)] : IMG_NONE;
}

uint32_t RouterImageType(uint32_t kindBits)
{
    return FamilyField(kindBits) == FAMILY_B ? RouterFamilyBType(kindBits) : RouterFamilyAType(kindBits);
}

uint32_t RouterKindBits(uint32_t type)
{
    for (uint32_t field = 0; field < 4 && type != IMG_NONE; ++field) {
        if (FAMILY_A_TYPES[field] == type)
            return field << FAMILY_SHIFT;
        if (FAMILY_B_TYPES[field] == type)
            return (FAMILY_B << FAMILY_SHIFT) | (field << FAMILY_B_SHIFT);
    }
    return 0;
}
