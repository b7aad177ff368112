// Sending hostile PNG bytes through ICM_DECOMPRESS the way a host would:
// the frame in a buffer of exactly its size, the output between guards.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/frames.h"

constexpr uint8_t kUntouched = 0x3C;

inline BITMAPINFOHEADER MpngHeader(int32_t width, int32_t height, uint16_t bitCount, size_t size)
{
    BITMAPINFOHEADER header = DibHeader(width, height, bitCount, static_cast<uint32_t>(size));
    header.biCompression = kFourccMpng;
    return header;
}

// Decodes `png` into an output of the given format.
inline DecompressResult DecodeInto(DWORD_PTR id, const std::vector<uint8_t>& png, int32_t width,
                                   int32_t height, uint16_t bitCount)
{
    const std::vector<uint8_t> frame = png;  // exactly biSizeImage bytes
    return DecompressInto(id, MpngHeader(width, height, bitCount, frame.size()), frame.data(),
                          DibHeader(width, height, bitCount, 0), kUntouched);
}

inline bool Untouched(const DecompressResult& result)
{
    for (uint8_t b : result.rows)
        if (b != kUntouched)
            return false;
    return true;
}
