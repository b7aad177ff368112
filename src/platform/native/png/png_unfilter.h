// Reversing PNG row filters, in place. Decoding a row needs the row above
// already decoded, and within a row sub, average and paeth depend on the
// pixel to the left, so only up vectorises across the row; paeth for 3-
// and 4-byte pixels runs one pixel per step in SIMD lanes instead.
#pragma once

#include <cstddef>
#include <cstdint>

// Unfilters `size` bytes of `row` by filter type `filter` (0 to 4) against
// `prev`, the decoded row above (all zeros for the first row). `bpp` is 1
// to 8. Returns false for a filter type above 4. `row` must have 4
// readable bytes after its end (the next row's filter byte, or padding).
bool UnfilterRow(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t size, size_t bpp);
