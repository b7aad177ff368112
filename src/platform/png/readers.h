// The two readers behind DecodePng: a fast one for the plain layouts that
// video frames use, and libspng for everything else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/png/png.h"

namespace pngcore {

// Widest image accepted: four bytes per pixel, rounded up to a multiple of
// four, must stay addressable by a signed 32-bit stride.
constexpr uint32_t kMaxWidth = (0x7FFFFFFFu - 3) / 4;

// Decodes a non-interlaced 8-bit gray, 8-bit indexed (256-entry palette),
// 8-bit RGB or RGBA, or 16-bit gray PNG whose critical chunks are IHDR,
// PLTE, IDAT and IEND; ancillary chunks other than tRNS are skipped, and so
// are bytes after IEND. Returns false ("not handled") for anything else,
// including every damaged input, so that libspng decides about it; `out` is
// then unspecified. Thread-safe; each thread keeps its scratch buffer.
// A valid band map lets the bands be inflated and unfiltered apart, on
// `workers` when given; a map that does not fit the file is ignored.
bool DecodePlainPng(const uint8_t* data, size_t size, DecodedPng& out,
                    PngWorkers* workers = nullptr);

// Decodes any PNG with libspng, after checking the framing and every chunk
// CRC. Returns false for everything DecodePng documents as a failure.
bool DecodeAnyPng(const uint8_t* data, size_t size, DecodedPng& out);

} // namespace pngcore
