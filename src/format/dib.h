// Facts about DIB layouts shared by negotiation and the frame paths.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Bytes in one DIB row: bits rounded up to whole 32-bit words. Computed in
// wrapping signed 32-bit arithmetic, the division rounding toward minus
// infinity, as hosts compute it; a negative width gives a negative answer.
int32_t DibRowBytes(int32_t bitCount, int32_t width);

// Bytes of a format header: 8-bit formats carry 256 palette entries.
constexpr uint32_t kGrayPaletteEntries = 256;
constexpr uint32_t kHeaderBytes = 40;
constexpr uint32_t kPalettedHeaderBytes = kHeaderBytes + kGrayPaletteEntries * 4;
uint32_t FormatBytes(uint32_t bitCount);

// Writes the 256-level gray ramp right after a 40-byte header: entry i is
// blue = green = red = i, reserved 0. The caller provides 1064 bytes.
void FillGrayPalette(BITMAPINFOHEADER* header);

static_assert(kPalettedHeaderBytes == 1064);
