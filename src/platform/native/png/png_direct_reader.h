// A quick path for the PNGs this writer and most video tools produce:
// non-interlaced 8-bit gray, RGB or RGBA and 16-bit gray, with no palette
// and no transparency chunk. The zlib stream is inflated by libdeflate in
// one call and rows are unfiltered and converted while still in cache,
// which libspng's row-at-a-time zlib path cannot match.
//
// Everything else (interlacing, palettes, tRNS, other depths, unknown
// critical chunks, IDAT chunks that are not consecutive) is declined and
// left to libspng.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/native/png/png_codec.h"

enum class DirectRead {
    Decoded,   // `out` holds the image
    Failed,    // the PNG is damaged or exceeds the limits: refuse it
    Declined,  // not a layout this path handles: ask libspng
};

// `data` must already have passed PngChunksIntact.
DirectRead ReadPngDirect(const uint8_t* data, size_t size, DecodedPng& out);
