// Scalar row operations that the vector paths also use for row ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/png/png.h"

namespace pngcore {

inline uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c)
{
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

// Swizzles bytes [from, bytes) of a row; see FastKernels::swizzle.
void SwizzleTail(const uint8_t* src, uint8_t* dst, size_t from, size_t bytes, PngPixels pixels);

void SwizzlePortable(const uint8_t* src, uint8_t* dst, size_t bytes, PngPixels pixels);

// Undoes one row's filter from byte `from` on (earlier bytes already done).
void UnfilterTail(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t from, size_t n,
                  size_t bpp);

void UnfilterRowPortable(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t n, size_t bpp);

void UnfilterUpIntoPortable(const uint8_t* residuals, const uint8_t* prev, uint8_t* out, size_t n,
                            PngPixels pixels);

} // namespace pngcore
