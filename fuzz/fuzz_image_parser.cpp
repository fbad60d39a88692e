// Feeds arbitrary bytes to the image parser: in memory with and without checksum
// verification for every expected type, and once through a real file (read whole, as a .bin is);
// every opened image is then read chunk by chunk with its blocks checked, as a transfer does.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "images/CAppFileReader.h"
#include "images/CBinFile.h"
#include "platform/UserFiles.h"

namespace {

const std::string& ScratchPath()
{
    static const std::string IMAGE_PATH = GetTempDirectory() + "kiv-fuzz-image-" + std::to_string(getpid()) + ".bin";
    return IMAGE_PATH;
}

// Walks every chunk of every part, touching the bytes, as the transfers would.
void ReadEverything(const CBinFile& file)
{
    volatile uint8_t sink = 0;
    CAppFileReader reader(file, 7300);
    for (size_t part = 0; part < file.GetPartCount(); ++part) {
        reader.SelectPart(part);
        uint32_t length = 0;
        for (uint32_t i = 0; i < reader.GetChunkCount(part); ++i) {
            const uint8_t* chunk = reader.NextChunk(length);
            if (chunk != nullptr && length > 0)
                sink = sink ^ chunk[0] ^ chunk[length - 1];
        }
    }
    (void)file.GetVersion();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (uint32_t expected = 0; expected <= IMG_NONE; ++expected) {
        CBinFile file;
        if (file.OpenMemory(data, size, expected, true, expected == IMG_DASHBOARD ? "/x/ZQPX.bin" : "/x/a.bin"))
            ReadEverything(file);
    }
    CBinFile structural;
    if (structural.OpenMemory(data, size, IMG_NONE, false))
        ReadEverything(structural);

    // The file path: reads, size rule and parsing exactly as for a .bin beside the program.
    if (FILE* out = std::fopen(ScratchPath().c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
        CBinFile file;
        file.SetPath(ScratchPath());
        if (file.Open(IMG_NONE))
            ReadEverything(file);
    }
    return 0;
}
