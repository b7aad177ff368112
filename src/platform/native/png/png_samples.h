// Conversion of one row from the imaging library's memory layout to PNG
// sample order: blue-green-red(-alpha) to red-green-blue(-alpha), 16-bit
// gray from little- to big-endian, palette indices unchanged.
#pragma once

#include <cstdint>

#include "platform/native/png/png_codec.h"

// Writes width * PngBytesPerPixel(pixels) bytes to `out`. `in` and `out`
// must not overlap.
void ToPngSamples(PngPixels pixels, const uint8_t* in, uint32_t width, uint8_t* out);

// The reverse, in place: PNG sample order back to memory layout. The swap
// is its own inverse, so the same function serves both directions.
void FromPngSamplesInPlace(PngPixels pixels, uint8_t* row, uint32_t width);
