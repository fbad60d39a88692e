#include <gtest/gtest.h>

#include "wire/ImageType.h"
#include "wire/RouterKindBits.h"

TEST(RouterKindBits, EachRouterComponentsBitsBothWays)
{
    const struct {
        uint32_t type;
        uint32_t bits;
        bool familyA;
    } cases[] = {
        {IMG_APP, 0x00, true},           {IMG_BOOT, 0x02, true},         {IMG_CUSTOMIZATION, 0x04, true},
        {IMG_APP_B, 0x06, false},        {IMG_CONFIG_FILE, 0x0E, false}, {IMG_COMMON_HTML, 0x16, false},
        {IMG_SPECIAL_HTML, 0x1E, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(RouterKindBits(c.type), c.bits);
        EXPECT_EQ(RouterImageType(c.bits), c.type);
        // Bit 0 and the bits above 4 are not looked at.
        EXPECT_EQ(RouterImageType(c.bits | 0xFFFFFFE1u), c.type);
        EXPECT_EQ(RouterFamilyAType(c.bits), c.familyA ? c.type : IMG_NONE);
        EXPECT_EQ(RouterFamilyBType(c.bits), c.familyA ? IMG_NONE : c.type);
    }
    for (uint32_t other : {IMG_FIRMWARE, IMG_DASHBOARD, IMG_NONE, 42u})
        EXPECT_EQ(RouterKindBits(other), 0u) << other;
    // The codes themselves, which the component table, the rows and the engine share.
    EXPECT_EQ((std::array{IMG_BOOT, IMG_APP, IMG_CUSTOMIZATION, IMG_COMMON_HTML, IMG_SPECIAL_HTML, IMG_APP_B,
                          IMG_CONFIG_FILE, IMG_FIRMWARE, IMG_DASHBOARD, IMG_NONE}),
              (std::array<uint32_t, 10>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}
