// The imaging-library pixel format each DIB depth is handed over as. DIB
// rows and bitmap rows share one byte order at every depth, so no pixel
// byte changes in either direction.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// 8 -> 8bpp indexed, 16 -> 16bpp gray, 32 -> 32bpp ARGB, anything else ->
// 24bpp RGB.
inline PixelFormat BitmapPixelFormat(uint32_t bitCount)
{
    switch (bitCount) {
    case 8: return PixelFormat8bppIndexed;
    case 16: return PixelFormat16bppGrayScale;
    case 32: return PixelFormat32bppARGB;
    default: return PixelFormat24bppRGB;
    }
}

// Bits per pixel of a format: bits 8..15 of its value.
inline uint32_t PixelFormatBits(PixelFormat format)
{
    return (static_cast<uint32_t>(format) >> 8) & 0xFF;
}
