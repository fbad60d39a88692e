#include "tools/kivimage/ImageCommands.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "images/CBinFile.h"
#include "images/CImageBuilder.h"
#include "images/CSampleImage.h"
#include "platform/ByteOrder.h"
#include "platform/Utf8Path.h"

namespace {

constexpr const char* TYPE_NAMES[] = {"boot",  "app",    "customization", "common-html", "special-html",
                                      "app-b", "config", "firmware",      "dashboard",   "none"};

bool ParseType(const std::string& text, uint32_t& type)
{
    for (uint32_t i = 0; i <= IMG_NONE; ++i)
        if (text == TYPE_NAMES[i] || text == std::to_string(i)) {
            type = i;
            return true;
        }
    return false;
}

const char* TypeName(uint32_t type) { return type <= IMG_NONE ? TYPE_NAMES[type] : "?"; }

bool ParseNumber(const std::string& text, uint64_t limit, uint64_t& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != 0 || v > limit || text[0] == '-')
        return false;
    value = v;
    return true;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string Printable(const char* text, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size && text[i] != 0; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
    }
    return out;
}

std::string MagicText(const std::array<uint8_t, 4>& magic)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", magic[0], magic[1], magic[2], magic[3]);
    std::string out = text;
    if (magic == PART_MAGIC_HDR0)
        out += " (HDR0)";
    else if (magic == PART_MAGIC_WIRELESS)
        out += " (wireless)";
    return out;
}

// Absolute path, so that a short relative name passes the path rule of the reader.
std::string AbsolutePath(const std::string& path)
{
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(path), ec);
    return ec ? path : Utf8FromPath(absolute);
}

bool ParsePartSpec(const std::string& spec, const CreateOptions& options, CImageBuilder::Part& part, std::string& file,
                   std::string& error)
{
    std::stringstream stream(spec);
    std::string field;
    std::getline(stream, file, ',');
    part.m_nTargetAddress = options.m_nAddress;
    part.m_UnlockCode = options.m_strUnlockCode;
    part.m_nBlockSize = options.m_nBlockSize;
    part.m_PartName = Utf8FromPath(PathFromUtf8(file).filename());
    while (std::getline(stream, field, ',')) {
        size_t eq = field.find('=');
        std::string key = field.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : field.substr(eq + 1);
        uint64_t number = 0;
        if (key == "address" && ParseNumber(value, 0xFFFFFFFFu, number))
            part.m_nTargetAddress = static_cast<uint32_t>(number);
        else if (key == "block" && ParseNumber(value, 0xFFFFFFFFu, number) && number > 0)
            part.m_nBlockSize = static_cast<uint32_t>(number);
        else if (key == "unlock" && value.size() <= 8)
            part.m_UnlockCode = value;
        else if (key == "name" && value.size() <= 32)
            part.m_PartName = value;
        else {
            error = "bad part field '" + field + "' in '" + spec + "'";
            return false;
        }
    }
    if (file.empty()) {
        error = "part without a data file: '" + spec + "'";
        return false;
    }
    return true;
}

uint32_t DefaultFileType(uint32_t type)
{
    if (type == IMG_FIRMWARE)
        return FILE_TYPE_FIRMWARE;
    if (type == IMG_DASHBOARD)
        return FILE_TYPE_DASHBOARD;
    return FILE_TYPE_ROUTER;
}

// Router images: sample container (or kind bits patched in with --raw); wireless images:
// version marker. Only part 0 carries either.
bool PreparePartZero(const CreateOptions& options, uint32_t type, std::vector<uint8_t>& data, std::string& error)
{
    const bool router = type <= IMG_CONFIG_FILE;
    const uint32_t kindBits = options.m_nKindBits >= 0 ? static_cast<uint32_t>(options.m_nKindBits)
                                                       : RouterKindBits(type);
    if (!options.m_bRaw) {
        data = router ? SampleImage::MakeRouterData(kindBits, options.m_strVersion, data)
                      : SampleImage::MakeWirelessData(options.m_strVersion, data);
        return true;
    }
    if (router && options.m_nKindBits >= 0) {
        if (data.size() < ROUTER_KIND_BITS_OFFSET + 4) {
            error = "part 0 data too short to hold the kind bits";
            return false;
        }
        WriteLe32(data.data() + ROUTER_KIND_BITS_OFFSET, kindBits);
    }
    return true;
}

int Failure(const std::string& text)
{
    std::fprintf(stderr, "kivimage: %s\n", text.c_str());
    return 1;
}

int Usage(const std::string& text)
{
    std::fprintf(stderr, "kivimage: %s\n", text.c_str());
    return 2;
}

void PrintPart(const CBinFile& image, size_t i)
{
    const PartHeader& h = image.GetHeader(i);
    const DataSpan& span = image.GetSpan(i);
    std::printf("part %zu:\n", i);
    std::printf("  magic          %s\n", MagicText(h.m_Magic).c_str());
    std::printf("  header size    %" PRIu32 " (%" PRIu32 " blocks of %" PRIu32 " bytes)\n", h.m_nHeaderSize,
                h.BlockCount(), h.m_nBlockSize);
    std::printf("  reserved       %" PRIu32 "\n", h.m_nReserved);
    std::printf("  unlock code    \"%s\"\n", Printable(h.m_UnlockCode.data(), h.m_UnlockCode.size()).c_str());
    std::printf("  target address 0x%08" PRIX32 "\n", h.m_nTargetAddress);
    std::printf("  data           %" PRIu32 " bytes at offset %" PRIu32 "\n", span.m_nLength, span.m_nOffset);
    std::printf("  header CRC     0x%04X\n", h.m_nChecksum);
    std::printf("  build          \"%s\" \"%s\"\n", Printable(h.m_BuildDate.data(), h.m_BuildDate.size()).c_str(),
                Printable(h.m_BuildTime.data(), h.m_BuildTime.size()).c_str());
    std::printf("  name           \"%s\"\n", Printable(h.m_PartName.data(), h.m_PartName.size()).c_str());
    uint8_t kindBits[4];
    if (i == 0 && h.m_Magic == PART_MAGIC_HDR0 && image.ReadPartData(0, ROUTER_KIND_BITS_OFFSET, 4, kindBits))
        std::printf("  kind bits      0x%08" PRIX32 "\n", ReadLe32(kindBits));
}

} // namespace

std::string DescribeTypeNames()
{
    std::string text;
    for (uint32_t i = 0; i <= IMG_NONE; ++i)
        text += std::string(i ? ", " : "") + TYPE_NAMES[i] + "=" + std::to_string(i);
    return text;
}

std::string DescribeSamples()
{
    std::string text = "Samples written (version, unlock code, parts):\n";
    char line[160];
    for (const SampleImage::SampleInfo& s : SampleImage::GetSampleCatalogue()) {
        std::snprintf(line, sizeof line, "  %s/%-20s %-13s %-16s %s  %u part%s\n", s.m_strFamily.c_str(),
                      s.m_strFileName.c_str(), TypeName(s.m_nType), s.m_strVersion.c_str(), s.m_strUnlockCode.c_str(),
                      s.m_nPartCount, s.m_nPartCount == 1 ? "" : "s");
        text += line;
    }
    text +=
        "Router images carry a 64-byte container header at the start of part 0 data (kind bits at\n"
        "offset 12, version text at 16); wireless images a 72-byte version marker \"KIVWVER1\".";
    return text;
}

int RunCreate(const CreateOptions& options)
{
    uint32_t type = IMG_NONE;
    if (!ParseType(options.m_strType, type) || type == IMG_NONE)
        return Usage("unknown image type '" + options.m_strType + "' (" + DescribeTypeNames() + ")");
    if (options.m_strUnlockCode.size() > 8)
        return Usage("unlock code longer than 8 characters");
    if (options.m_strVersion.size() >= FILE_VERSION_SIZE)
        return Usage("version text longer than 83 characters");
    if (options.m_nFileType > 0xFFFFFFFFll || options.m_nKindBits > 0xFFFFFFFFll)
        return Usage("file type word and kind bits must fit 32 bits");

    CImageBuilder builder;
    builder.SetFileType(options.m_nFileType >= 0 ? static_cast<uint32_t>(options.m_nFileType) : DefaultFileType(type));
    builder.SetVersion(options.m_strVersion);
    const bool router = type <= IMG_CONFIG_FILE;
    std::string error;
    for (size_t i = 0; i < options.m_Parts.size(); ++i) {
        CImageBuilder::Part part;
        std::string file;
        if (!ParsePartSpec(options.m_Parts[i], options, part, file, error))
            return Usage(error);
        part.m_Magic = router ? PART_MAGIC_HDR0 : PART_MAGIC_WIRELESS;
        if (!ReadFileBytes(file, part.m_Data))
            return Failure(file + ": cannot read: " + std::strerror(errno));
        if (i == 0 && !PreparePartZero(options, type, part.m_Data, error))
            return Failure(error);
        builder.AddPart(std::move(part));
    }
    if (!builder.WriteFile(options.m_strOutput, error))
        return Failure(error);
    std::printf("%s: %s image, %zu part%s\n", options.m_strOutput.c_str(), TypeName(type), builder.GetPartCount(),
                builder.GetPartCount() == 1 ? "" : "s");
    return 0;
}

int RunInfo(const std::string& path, const std::string& expectedType)
{
    uint32_t expected = IMG_NONE;
    if (!ParseType(expectedType, expected))
        return Usage("unknown expected type '" + expectedType + "'");
    CBinFile image;
    image.SetPath(AbsolutePath(path));
    if (!image.Open(expected))
        return Failure(path + ": not a valid image (expected " + TypeName(expected) + "): " + image.GetFailure());
    std::printf("file           %s\n", path.c_str());
    std::printf("size           %zu bytes\n", image.GetSize());
    std::printf("file type word %" PRIu32 "\n", image.GetFileType());
    std::printf("version        %s\n", image.GetVersion().c_str());
    std::printf("parts          %zu, %" PRIu32 " data bytes\n", image.GetPartCount(), image.GetTotalLength());
    std::printf("type           %s (%" PRIu32 ") for expected type %s\n", TypeName(image.GetType()), image.GetType(),
                TypeName(expected));
    std::string sampleVersion;
    std::vector<uint8_t> head(std::min<size_t>(image.GetSpan(0).m_nLength, SampleImage::ROUTER_CONTAINER_SIZE));
    if (image.ReadPartData(0, 0, static_cast<uint32_t>(head.size()), head.data()) &&
        SampleImage::ReadRouterSampleVersion(head.data(), head.size(), sampleVersion))
        std::printf("container      router sample header, version \"%s\"\n", sampleVersion.c_str());
    for (size_t i = 0; i < image.GetPartCount(); ++i)
        PrintPart(image, i);
    return 0;
}

int RunVerify(const std::string& path, const std::string& expectedType)
{
    uint32_t expected = IMG_NONE;
    if (!ParseType(expectedType, expected))
        return Usage("unknown expected type '" + expectedType + "'");
    CBinFile image;
    image.SetPath(AbsolutePath(path));
    if (!image.Open(expected))
        return Failure(path + ": " + image.GetFailure() + " (expected type " + TypeName(expected) + ")");
    std::printf("%s: valid %s image, version %s, %zu part%s\n", path.c_str(), TypeName(image.GetType()),
                image.GetVersion().c_str(), image.GetPartCount(), image.GetPartCount() == 1 ? "" : "s");
    const std::string unusable = image.GetUnusableReason();
    if (!unusable.empty())
        std::fprintf(stderr, "kivimage: warning: %s: %s; the upgrade tool does not use this image\n", path.c_str(),
                     unusable.c_str());
    return 0;
}

int RunSamples(const std::string& dir, uint32_t firmwareSize)
{
    std::string error;
    if (!SampleImage::WriteSamples(dir, firmwareSize, error))
        return Failure(error);
    for (const SampleImage::SampleInfo& s : SampleImage::GetSampleCatalogue())
        std::printf("%s/%s/%s  %s %s\n", dir.c_str(), s.m_strFamily.c_str(), s.m_strFileName.c_str(),
                    TypeName(s.m_nType), s.m_strVersion.c_str());
    return 0;
}
