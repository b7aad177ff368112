// PNG row filters (filter method 0). The encoder picks one per row; each
// has a portable version and, where the CPU has it, an AVX2 one that gives
// identical bytes.
#pragma once

#include <cstddef>
#include <cstdint>

enum class PngFilter : uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };
constexpr size_t kPngFilterCount = 5;

// Writes the filtered form of `size` bytes of `cur` to `out`. `prev` is the
// unfiltered row above (all zeros for the first row); `bpp` is the distance
// in bytes to the corresponding byte of the pixel on the left (1 to 8).
using PngFilterRowFn = void (*)(const uint8_t* cur, const uint8_t* prev, size_t size, size_t bpp,
                                uint8_t* out);

// A cost estimate for a filtered row: the sum of the residuals' magnitudes
// as signed bytes. Smaller usually deflates smaller.
using PngRowCostFn = uint64_t (*)(const uint8_t* filtered, size_t size);

struct PngFilterSet {
    PngFilterRowFn row[kPngFilterCount];
    PngRowCostFn cost;
};

// The fastest set this CPU runs. Chosen once; thread-safe.
const PngFilterSet& PngFilters();

// The portable set, and the AVX2 set or null when the CPU lacks AVX2. For
// tests and benchmarks that compare them.
const PngFilterSet& PngFiltersPortable();
const PngFilterSet* PngFiltersAvx2();
