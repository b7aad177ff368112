#include "platform/png/container.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

namespace pngcore {

namespace {

void AppendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size)
{
    uint8_t head[8];
    StoreBe32(head, static_cast<uint32_t>(size));
    std::copy_n(type, 4, head + 4);
    out.insert(out.end(), head, head + 8);
    out.insert(out.end(), data, data + size);
    uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    if (size != 0)
        crc = libdeflate_crc32(crc, data, size);  // a null buffer would reset it
    uint8_t tail[4];
    StoreBe32(tail, crc);
    out.insert(out.end(), tail, tail + 4);
}

} // namespace

void AppendPngFile(const PngSource& source, const uint8_t* zlib, size_t zlibSize,
                   std::vector<uint8_t>& out)
{
    const size_t chunks = zlibSize / kMaxChunkLength + 1;
    out.reserve(out.size() + 8 + 25 + zlibSize + 12 * chunks + 12);

    out.insert(out.end(), std::begin(kPngSignature), std::end(kPngSignature));
    uint8_t header[13];
    StoreBe32(header, source.width);
    StoreBe32(header + 4, source.height);
    // Indices are written as gray levels: they mean exactly that, and a
    // 780-byte palette would outweigh a small frame.
    static constexpr uint8_t kColourType[] = {0, 0, 2, 6};  // by PngPixels
    header[8] = source.pixels == PngPixels::Gray16 ? 16 : 8;
    header[9] = kColourType[static_cast<size_t>(source.pixels)];
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
    AppendChunk(out, "IHDR", header, sizeof header);
    size_t done = 0;
    do {
        const size_t part = std::min<size_t>(zlibSize - done, kMaxChunkLength);
        AppendChunk(out, "IDAT", zlib + done, part);
        done += part;
    } while (done < zlibSize);
    AppendChunk(out, "IEND", nullptr, 0);
}

bool ChunksIntact(const uint8_t* data, size_t size)
{
    if (size < sizeof kPngSignature || std::memcmp(data, kPngSignature, sizeof kPngSignature) != 0)
        return false;
    size_t at = sizeof kPngSignature;
    while (size - at >= 12) {
        const uint8_t* chunk = data + at;
        const uint32_t length = LoadBe32(chunk);
        if (length > kMaxChunkLength || length > size - at - 12)
            return false;
        if (libdeflate_crc32(0, chunk + 4, size_t{length} + 4) != LoadBe32(chunk + 8 + length))
            return false;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0)
            return true;
        at += size_t{length} + 12;
    }
    return false;
}

} // namespace pngcore
