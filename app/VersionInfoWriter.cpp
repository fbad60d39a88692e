#include "app/VersionInfoWriter.h"

#include "platform/ByteOrder.h"
#include "platform/TextCodec.h"

namespace {
constexpr uint32_t FIXED_SIGNATURE = 0xFEEF04BD;
constexpr uint32_t FIXED_STRUCT_VERSION = 0x00010000;

struct Block {
    std::string key;
    std::vector<uint8_t> value;
    uint16_t valueLength = 0; // bytes for binary values, characters for text values
    uint16_t type = 0;        // 0 binary, 1 text
    std::vector<Block> children;
};

void PutU16(std::vector<uint8_t>& out, uint16_t v)
{
    out.resize(out.size() + 2);
    WriteLe16(out.data() + out.size() - 2, v);
}

void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    out.resize(out.size() + 4);
    WriteLe32(out.data() + out.size() - 4, v);
}

void SetU16(std::vector<uint8_t>& out, size_t at, uint16_t v) { WriteLe16(out.data() + at, v); }

void Align4(std::vector<uint8_t>& out)
{
    while (out.size() % 4 != 0)
        out.push_back(0);
}

std::vector<uint8_t> Utf16z(const std::string& text)
{
    std::vector<uint8_t> out;
    for (char16_t c : Utf8ToUtf16(text.c_str()))
        PutU16(out, static_cast<uint16_t>(c));
    PutU16(out, 0);
    return out;
}

void Write(std::vector<uint8_t>& out, const Block& block)
{
    Align4(out);
    const size_t start = out.size();
    PutU16(out, 0);
    PutU16(out, block.valueLength);
    PutU16(out, block.type);
    const std::vector<uint8_t> key = Utf16z(block.key);
    out.insert(out.end(), key.begin(), key.end());
    Align4(out);
    out.insert(out.end(), block.value.begin(), block.value.end());
    for (const Block& child : block.children)
        Write(out, child);
    SetU16(out, start, static_cast<uint16_t>(out.size() - start));
}

Block TextValue(const std::string& key, const std::string& text)
{
    Block block{key, Utf16z(text), 0, 1, {}};
    block.valueLength = static_cast<uint16_t>(block.value.size() / 2);
    return block;
}

std::vector<uint8_t> FixedInfo(const VersionInfoContent& c)
{
    std::vector<uint8_t> out;
    PutU32(out, FIXED_SIGNATURE);
    PutU32(out, FIXED_STRUCT_VERSION);
    PutU32(out, (uint32_t{c.fileVersion[0]} << 16) | c.fileVersion[1]);
    PutU32(out, (uint32_t{c.fileVersion[2]} << 16) | c.fileVersion[3]);
    PutU32(out, (uint32_t{c.productVersion[0]} << 16) | c.productVersion[1]);
    PutU32(out, (uint32_t{c.productVersion[2]} << 16) | c.productVersion[3]);
    PutU32(out, 0x3F);    // flags mask
    PutU32(out, 0);       // flags
    PutU32(out, 0x40004); // operating system: NT, 32-bit windows
    PutU32(out, 1);       // file type: application
    PutU32(out, 0);       // subtype
    PutU32(out, 0);       // date, high
    PutU32(out, 0);       // date, low
    return out;
}
} // namespace

std::vector<uint8_t> BuildVersionInfo(const VersionInfoContent& content)
{
    Block root{"VS_VERSION_INFO", FixedInfo(content), 52, 0, {}};
    Block table{content.tableKey, {}, 0, 1, {}};
    for (const auto& [key, text] : content.strings)
        table.children.push_back(TextValue(key, text));
    root.children.push_back(Block{"StringFileInfo", {}, 0, 1, {table}});
    if (content.withTranslation) {
        std::vector<uint8_t> translation;
        PutU16(translation, content.language);
        PutU16(translation, content.codePage);
        Block var{"Translation", translation, 4, 0, {}};
        root.children.push_back(Block{"VarFileInfo", {}, 0, 1, {var}});
    }
    std::vector<uint8_t> out;
    Write(out, root);
    return out;
}
