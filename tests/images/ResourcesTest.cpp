#include <gtest/gtest.h>

#include "images/CBinFile.h"
#include "platform/TextCodec.h"
#include "res/Resources.h"

TEST(Resources, TitleIsZeroTerminatedUtf16)
{
    auto title = LoadResourceBytes(150, "STRING");
    ASSERT_TRUE(title.has_value());
    EXPECT_EQ(title->size, 28u);
    EXPECT_EQ(title->data[26], 0);
    EXPECT_EQ(title->data[27], 0);
    EXPECT_EQ(Utf16LeToUtf8(title->data, title->size), "Q350m Upgrade");
    EXPECT_FALSE(LoadResourceBytes(150, "BINARY").has_value());
    EXPECT_FALSE(LoadResourceBytes(150, nullptr).has_value());
}

TEST(Resources, OneByteFlagResourcesNeverYieldAnImage)
{
    for (uint32_t id : {145u, 160u, 161u, 162u, 163u}) {
        EXPECT_FALSE(LoadResourceBytes(id, "BINARY").has_value()) << id;
        CBinFile file;
        EXPECT_FALSE(file.OpenResource(id)) << id;
        EXPECT_EQ(file.GetResourceId(), id);
        EXPECT_EQ(file.GetType(), IMG_NONE);
    }
    CBinFile unknown;
    EXPECT_FALSE(unknown.OpenResource(9999));
}

TEST(Resources, StringTableTexts)
{
    EXPECT_EQ(LoadStringResource(157), "&Check");
    EXPECT_EQ(LoadStringResource(139), "&Upgrade");
    EXPECT_EQ(LoadStringResource(134), "Two or more .bin files with the same type exist");
    EXPECT_EQ(LoadStringResource(138), "The version of the WinSock error!\n\nExpected: 2.2. Actual: %d.%d\n");
    EXPECT_EQ(LoadStringResource(161), "Configuration File of router module");
    EXPECT_EQ(LoadStringResource(102), "Restarting the wireless module");
    std::string text = "kept";
    EXPECT_FALSE(LoadStringResource(104, text));
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(LoadStringResource(1), "");
}
