// A match-free PNG writer built for speed, and a fast reader for the plain
// PNGs that matter most. Both sit behind EncodePng / DecodePng: the writer
// produces standard PNGs that any decoder reads, and the reader gives the
// same pixels as the general reader for everything it accepts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/native/png/png_codec.h"

// Appends one complete PNG datastream to `out`. Returns false, with `out` as
// it was, for a zero-sized image, for sizes a PNG cannot describe and when
// memory runs out. Thread-safe; each thread keeps its scratch buffer for
// the next frame.
bool FastEncodePng(const PngSource& source, std::vector<uint8_t>& out);

// Decodes a non-interlaced 8-bit gray, 8-bit indexed (256-entry palette),
// 8-bit RGB or RGBA, or 16-bit gray PNG made only of IHDR, PLTE, IDAT and
// IEND chunks. Returns false ("not handled") for anything else, including
// every damaged input, so that the general reader decides about it; `out`
// is then unspecified. Thread-safe; each thread keeps its scratch buffer
// for the next frame.
bool FastDecodePng(const uint8_t* data, size_t size, DecodedPng& out);

// The instruction sets the writer and reader can run on.
enum class FastPngPath : uint8_t {
    Portable,
    Sse41,
    Avx2,
};

// The best path this processor supports.
FastPngPath FastPngBestPath();

// Makes every later call in this process use `path` (clamped to what the
// processor supports) and returns the path now in use. For tests and
// benchmarks; not thread-safe against concurrent coding.
FastPngPath FastPngForcePath(FastPngPath path);
