#include "png_header.h"

#include <cstring>

namespace {

uint32_t BigEndian32(const uint8_t* bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
           uint32_t{bytes[3]};
}

} // namespace

bool ReadPngHeader(const uint8_t* data, size_t size, PngHeader& header)
{
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    // Signature, then IHDR: length 13, type, width, height, depth, colour type.
    if (size < 8 + 8 + 13 || std::memcmp(data, kSignature, 8) != 0 ||
        BigEndian32(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0)
        return false;
    header.width = BigEndian32(data + 16);
    header.height = BigEndian32(data + 20);
    header.bitDepth = data[24];
    header.colorType = data[25];
    return true;
}

uint32_t DibDepthOfPng(const PngHeader& header)
{
    switch (header.colorType) {
    case 0: return header.bitDepth == 16 ? 16 : 8;
    case 2: return 24;
    case 3: return 8;
    case 4:
    case 6: return 32;
    default: return 0;
    }
}
