#include "platform/native/png/png_chunk.h"

#include <libdeflate.h>

#include <cstring>

size_t BeginPngChunk(std::vector<uint8_t>& out, const char type[4])
{
    size_t offset = out.size();
    out.resize(offset + 8);
    std::memcpy(out.data() + offset + 4, type, 4);
    return offset;
}

void EndPngChunk(std::vector<uint8_t>& out, size_t chunkOffset)
{
    size_t dataSize = out.size() - chunkOffset - 8;
    StoreBe32(out.data() + chunkOffset, static_cast<uint32_t>(dataSize));
    // The CRC covers the type and the data, not the length.
    uint32_t crc = libdeflate_crc32(0, out.data() + chunkOffset + 4, dataSize + 4);
    uint8_t tail[4];
    StoreBe32(tail, crc);
    out.insert(out.end(), tail, tail + 4);
}

void AppendPngChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data,
                    uint32_t size)
{
    size_t offset = BeginPngChunk(out, type);
    if (size != 0)
        out.insert(out.end(), data, data + size);
    EndPngChunk(out, offset);
}

bool PngChunksIntact(const uint8_t* data, size_t size)
{
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0)
        return false;
    size_t at = sizeof kSignature;
    while (size - at >= 12) {
        const uint8_t* chunk = data + at;
        uint32_t length = uint32_t{chunk[0]} << 24 | uint32_t{chunk[1]} << 16 |
                          uint32_t{chunk[2]} << 8 | chunk[3];
        if (length > 0x7FFFFFFF || length > size - at - 12)
            return false;
        const uint8_t* stored = chunk + 8 + length;
        uint32_t crc = uint32_t{stored[0]} << 24 | uint32_t{stored[1]} << 16 |
                       uint32_t{stored[2]} << 8 | stored[3];
        if (libdeflate_crc32(0, chunk + 4, size_t{length} + 4) != crc)
            return false;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0)
            return true;
        at += size_t{length} + 12;
    }
    return false;
}
