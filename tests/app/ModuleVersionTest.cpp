// The program's version resource: the block the build generates, a block written out byte by
// byte here, the string-table rule, and damaged blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/CModuleVersion.h"
#include "app/VersionInfoWriter.h"
#include "tests/support/VersionBlock.h"

namespace {

// A version block as the version resource holds it, written out by hand: the root block
// with the 52-byte fixed file information, a string table 040904b0 holding CompanyName and
// ProductVersion, and the translation 0409/04b0. Every block: length, value length (bytes,
// or characters for text), type (0 binary, 1 text), a zero-terminated UTF-16LE key, padding
// to 32 bits, the value, padding, the children.
const std::vector<uint8_t> GOLDEN_BLOCK = {
    // 0: VS_VERSION_INFO, 316 bytes, a 52-byte binary value.
    0x3C, 0x01, 0x34, 0x00, 0x00, 0x00, 'V', 0, 'S', 0, '_', 0, 'V', 0, 'E', 0, 'R', 0, 'S', 0, 'I', 0, 'O', 0, 'N', 0,
    '_', 0, 'I', 0, 'N', 0, 'F', 0, 'O', 0, 0, 0, 0x00, 0x00, // padding to 40
    // 40: fixed file information.
    0xBD, 0x04, 0xEF, 0xFE, // signature 0xFEEF04BD
    0x00, 0x00, 0x01, 0x00, // structure version 1.0
    0x02, 0x00, 0x01, 0x00, // file version 1.2
    0x04, 0x00, 0x03, 0x00, //              .3.4
    0x02, 0x00, 0x01, 0x00, // product version 1.2
    0x04, 0x00, 0x03, 0x00, //                 .3.4
    0x3F, 0x00, 0x00, 0x00, // flags mask
    0x00, 0x00, 0x00, 0x00, // flags
    0x04, 0x00, 0x04, 0x00, // operating system
    0x01, 0x00, 0x00, 0x00, // file type: application
    0x00, 0x00, 0x00, 0x00, // subtype
    0x00, 0x00, 0x00, 0x00, // date
    0x00, 0x00, 0x00, 0x00,
    // 92: StringFileInfo, 156 bytes, text, no value.
    0x9C, 0x00, 0x00, 0x00, 0x01, 0x00, 'S', 0, 't', 0, 'r', 0, 'i', 0, 'n', 0, 'g', 0, 'F', 0, 'i', 0, 'l', 0, 'e', 0,
    'I', 0, 'n', 0, 'f', 0, 'o', 0, 0, 0,
    // 128: the string table 040904b0, 120 bytes.
    0x78, 0x00, 0x00, 0x00, 0x01, 0x00, '0', 0, '4', 0, '0', 0, '9', 0, '0', 0, '4', 0, 'b', 0, '0', 0, 0, 0,
    // 152: CompanyName, 46 bytes, 7 characters of text.
    0x2E, 0x00, 0x07, 0x00, 0x01, 0x00, 'C', 0, 'o', 0, 'm', 0, 'p', 0, 'a', 0, 'n', 0, 'y', 0, 'N', 0, 'a', 0, 'm', 0,
    'e', 0, 0, 0, 0x00, 0x00,                                         // padding to 184
    'V', 0, 'a', 0, 'r', 0, 'o', 0, 'n', 0, 'i', 0, 0, 0, 0x00, 0x00, // padding to 200
    // 200: ProductVersion, 48 bytes, 6 characters of text.
    0x30, 0x00, 0x06, 0x00, 0x01, 0x00, 'P', 0, 'r', 0, 'o', 0, 'd', 0, 'u', 0, 'c', 0, 't', 0, 'V', 0, 'e', 0, 'r', 0,
    's', 0, 'i', 0, 'o', 0, 'n', 0, 0, 0, '1', 0, '.', 0, '2', 0, '.', 0, '3', 0, 0, 0,
    // 248: VarFileInfo, 68 bytes, text, no value.
    0x44, 0x00, 0x00, 0x00, 0x01, 0x00, 'V', 0, 'a', 0, 'r', 0, 'F', 0, 'i', 0, 'l', 0, 'e', 0, 'I', 0, 'n', 0, 'f', 0,
    'o', 0, 0, 0, 0x00, 0x00, // padding to 280
    // 280: Translation, 36 bytes, a 4-byte binary value.
    0x24, 0x00, 0x04, 0x00, 0x00, 0x00, 'T', 0, 'r', 0, 'a', 0, 'n', 0, 's', 0, 'l', 0, 'a', 0, 't', 0, 'i', 0, 'o', 0,
    'n', 0, 0, 0, 0x00, 0x00, // padding to 312
    0x09, 0x04, 0xB0, 0x04,   // language 0x0409, code page 0x04B0
};

} // namespace

TEST(ModuleVersion, BlockWrittenByHandIsReadFieldByField)
{
    ASSERT_EQ(GOLDEN_BLOCK.size(), 316u);
    CModuleVersion version;
    ASSERT_TRUE(version.LoadVersionData(GOLDEN_BLOCK.data(), GOLDEN_BLOCK.size()));
    const FixedFileInfo& fixed = version.GetFixedInfo();
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwStrucVersion, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00030004u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010002u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x00030004u);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, 0x00040004u);
    EXPECT_EQ(fixed.dwFileType, 1u);
    EXPECT_EQ(fixed.dwFileSubtype, 0u);
    EXPECT_EQ(fixed.dwFileDateMS, 0u);
    EXPECT_EQ(fixed.dwFileDateLS, 0u);
    EXPECT_EQ(version.GetLanguage(), 0x0409);
    EXPECT_EQ(version.GetCodePage(), 0x04B0);
    EXPECT_EQ(version.ValuePath("ProductVersion"), "\\StringFileInfo\\040904b0\\ProductVersion");
    // The second string of the table is found past the first; keys ignore ASCII case.
    EXPECT_EQ(version.GetValue("ProductVersion"), "1.2.3");
    EXPECT_EQ(version.GetValue("CompanyName"), "Varoni");
    EXPECT_EQ(version.GetValue("companyname"), "Varoni");
    EXPECT_EQ(version.GetValue("Company"), "");

    // The build's writer makes exactly these bytes from the same content.
    VersionInfoContent content;
    const uint16_t numbers[4] = {1, 2, 3, 4};
    std::copy(numbers, numbers + 4, content.fileVersion);
    std::copy(numbers, numbers + 4, content.productVersion);
    content.strings = {{"CompanyName", "Varoni"}, {"ProductVersion", "1.2.3"}};
    EXPECT_EQ(BuildVersionInfo(content), GOLDEN_BLOCK);
}

TEST(ModuleVersion, ProgramVersionResourceIsGeneratedFromTheProjectVersion)
{
    CModuleVersion version;
    ASSERT_TRUE(version.GetFileVersionInfo("test_app_module_version"));
    EXPECT_EQ(version.GetFixedInfo().dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(version.GetLanguage(), 0x0409);
    EXPECT_EQ(version.GetCodePage(), 0x04b0);
    EXPECT_EQ(version.GetValue("ProductVersion"), KIV_PROJECT_VERSION);
    EXPECT_EQ(version.GetValue("FileVersion"), KIV_PROJECT_VERSION);
    EXPECT_EQ(version.GetValue("NoSuchValue"), "");
    EXPECT_TRUE(version.GetFileVersionInfo("test_app_module_version.exe"));
    EXPECT_FALSE(version.GetFileVersionInfo("someone-else"));
    EXPECT_EQ(version.GetCodePage(), 1252); // reset before the lookup failed
}

TEST(ModuleVersion, TranslationBlockDecidesTheStringTable)
{
    CModuleVersion version;
    const auto with = BuildVersionInfo(kivtest::SampleVersionInfo(true));
    ASSERT_TRUE(version.LoadVersionData(with.data(), with.size()));
    EXPECT_EQ(version.GetValue("ProductVersion"), "2.5.1");
    EXPECT_EQ(version.GetFixedInfo().dwFileVersionMS, 0x00020005u);

    // Without a translation block the lookup uses language 0 and code page 1252.
    const auto without = BuildVersionInfo(kivtest::SampleVersionInfo(false));
    ASSERT_TRUE(version.LoadVersionData(without.data(), without.size()));
    EXPECT_EQ(version.GetLanguage(), 0);
    EXPECT_EQ(version.GetCodePage(), 1252);
    EXPECT_EQ(version.ValuePath("ProductVersion"), "\\StringFileInfo\\000004e4\\ProductVersion");
    EXPECT_EQ(version.GetValue("ProductVersion"), "");
    const auto fallback = BuildVersionInfo(kivtest::SampleVersionInfo(false, "000004e4"));
    ASSERT_TRUE(version.LoadVersionData(fallback.data(), fallback.size()));
    EXPECT_EQ(version.GetValue("productversion"), "2.5.1");
}

TEST(ModuleVersion, DamagedVersionDataIsRejectedWithoutReadingOutside)
{
    CModuleVersion version;
    const std::vector<uint8_t> built = BuildVersionInfo(kivtest::SampleVersionInfo(true));
    for (const std::vector<uint8_t>& good : {built, GOLDEN_BLOCK}) {
        for (size_t n = 0; n < good.size(); ++n) {
            // Every truncation, with the root length left claiming more.
            std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
            version.LoadVersionData(cut.data(), cut.size());
            version.GetValue("ProductVersion");
        }
    }
    auto wrong = GOLDEN_BLOCK;
    wrong[40] ^= 0xFF; // first byte of the fixed information: the signature
    EXPECT_FALSE(version.LoadVersionData(wrong.data(), wrong.size()));
    EXPECT_FALSE(version.LoadVersionData(nullptr, 0));
    EXPECT_EQ(version.GetValue("ProductVersion"), "");

    // A string whose value claims more characters than its block holds is cut at the block.
    auto longer = GOLDEN_BLOCK;
    longer[202] = 0x7F; // ProductVersion: 127 characters
    ASSERT_TRUE(version.LoadVersionData(longer.data(), longer.size()));
    EXPECT_EQ(version.GetValue("ProductVersion"), "1.2.3");
    // A child that claims to run past its parent ends the search.
    auto past = GOLDEN_BLOCK;
    past[200] = 0xF0; // ProductVersion: 240 bytes
    ASSERT_TRUE(version.LoadVersionData(past.data(), past.size()));
    EXPECT_EQ(version.GetValue("ProductVersion"), "");
    EXPECT_EQ(version.GetValue("CompanyName"), "Varoni");
}
