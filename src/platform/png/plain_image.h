// What the fast reader's serial and banded paths share.
#pragma once

#include <libdeflate.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/png/png.h"
#include "platform/png/scratch.h"

namespace pngcore {

struct PlainImage {
    uint32_t width;
    uint32_t height;
    PngPixels pixels;
    size_t bpp;
    size_t n;       // bytes of a row, without its filter byte
    size_t stride;  // of the decoded rows
};

using Chunks = std::vector<std::pair<const uint8_t*, size_t>>;

// Decompressors for the readers to reuse.
ScratchShelf<Decompressor>& Decompressors();

// Writes `rows` inflated rows at `raw` (n + 1 bytes each, filter byte
// first, left as they are) to `out` from row `firstRow` on, undone and in
// the imaging layout, padding cleared. `prev` is the row above the first
// as `out` holds it (n bytes; zeros above the image). False for a filter
// type above 4.
bool UnfilterRows(const PlainImage& image, const uint8_t* raw, uint32_t firstRow, uint32_t rows,
                  const uint8_t* prev, DecodedPng& out);

// Decodes the IDAT data band by band as the map body `map` describes, into
// `raw` ((n + 1) * height bytes) and `out` (sized already). Returns false
// when the map does not match the chunks or any band fails to inflate to
// exactly its rows, or the Adler-32 is wrong; `out` is then unspecified.
bool DecodeBands(const PlainImage& image, const Chunks& idat, const uint8_t* map, size_t mapSize,
                 uint8_t* raw, DecodedPng& out, PngWorkers* workers);

} // namespace pngcore
