#include "app/ImageHeaderProbe.h"

#include "images/CBinFile.h"
#include "images/PartHeader.h"
#include "platform/ByteOrder.h"
#include "platform/CReadOnlyFile.h"
#include "wire/RouterKindBits.h"

uint32_t ImageTypeNamedByHeaders(const std::string& path)
{
    CReadOnlyFile file;
    uint8_t head[MIN_IMAGE_SIZE];
    if (!file.Open(path) || file.Size() < MIN_IMAGE_SIZE || file.ReadAt(0, head, sizeof head) != 0)
        return IMG_NONE;
    const PartHeader part = PartHeader::Parse(head + FILE_HEADER_SIZE);
    uint32_t kindBits = 0;
    if (part.m_Magic == PART_MAGIC_HDR0) {
        // The kind bits lie in part 0's data, after its header and checksum table.
        uint8_t word[4];
        const uint64_t at = FILE_HEADER_SIZE + uint64_t{part.m_nHeaderSize} + ROUTER_KIND_BITS_OFFSET;
        if (part.m_nHeaderSize < PART_HEADER_SIZE || file.ReadAt(at, word, sizeof word) != 0)
            return IMG_NONE;
        kindBits = ReadLe32(word);
    }
    return CBinFile::Classify(part.m_Magic, ReadLe32(head), IMG_NONE, kindBits, 2, path);
}
