// Code lengths for small alphabets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pngcore {

// Optimal prefix-code lengths for `n` (>= 2) positive weights.
void HuffmanLengths(const uint64_t* weights, size_t n, uint8_t* lengths);

// Moves lengths into [lo[i], hi[i]] (all hi <= limit) so that the code is
// complete within a space of `target` units, one unit being a code of
// length `limit`. Prefers lengthening light items and shortening heavy
// ones. Returns false when no such lengths exist.
bool FitLengths(const uint64_t* weights, size_t n, const uint8_t* lo, const uint8_t* hi,
                unsigned limit, uint64_t target, uint8_t* lengths);

} // namespace pngcore
