#include "format/dib.h"

#include <cstring>

int32_t DibRowBytes(int32_t bitCount, int32_t width)
{
    // Unsigned arithmetic wraps without undefined behaviour; the cast back
    // gives the two's-complement value a 32-bit host would see.
    const auto bits = static_cast<int32_t>(static_cast<uint32_t>(bitCount) *
                                               static_cast<uint32_t>(width) + 31u);
    const int32_t words = bits >> 5;  // arithmetic shift: floor division by 32
    return words * 4;
}

uint32_t FormatBytes(uint32_t bitCount)
{
    return bitCount == 8 ? kPalettedHeaderBytes : kHeaderBytes;
}

void FillGrayPalette(BITMAPINFOHEADER* header)
{
    auto* entry = reinterpret_cast<uint8_t*>(header) + kHeaderBytes;
    for (uint32_t i = 0; i < kGrayPaletteEntries; ++i, entry += 4) {
        const RGBQUAD gray = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
        std::memcpy(entry, &gray, sizeof gray);
    }
}
