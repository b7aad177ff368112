// The PNG writer: row filters from png_filter.h, one zlib stream from
// libdeflate, chunks from png_chunk.h.
//
// Layouts written: Index8 as 8-bit gray, so index i shows as gray level i
// exactly as through the gray ramp palette that indexed frames carry, but
// without a 780-byte PLTE chunk in every frame (more than twice the size of
// a small frame, whose budget is twice its raw size); Gray16 as 16-bit gray;
// Bgr24 as 8-bit RGB; Bgra32 as 8-bit RGBA with alpha as given. No
// ancillary chunks.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/native/png/png_codec.h"

enum class PngFilterChoice : uint8_t {
    Paeth,   // paeth on every row
    PerRow,  // per row, the filter with the smallest residual magnitudes
};

struct PngWriterOptions {
    int level;  // libdeflate compression level, 0 to 12
    PngFilterChoice filters;
};

// Chosen with bench/png_bench on photographic 1080p frames, against zlib's
// default level with paeth (ffmpeg): level 1 is about 1.5 times faster but
// 4% larger; level 3 is 1% smaller and 10% slower; choosing the filter per
// row by residual magnitude saves under 0.1% for about 10% more time.
// Level 2 with paeth stays within 3% of zlib's size.
constexpr PngWriterOptions kPngWriterDefaults = {2, PngFilterChoice::Paeth};

// Appends one PNG datastream to `out`. Returns false, with `out` as it was,
// for an empty or oversized image, a null first row, a bad level, or when
// memory runs out. Caches one compressor and one filter buffer per thread
// so that frame after frame reuses them.
bool WritePng(const PngSource& source, const PngWriterOptions& options,
              std::vector<uint8_t>& out);
