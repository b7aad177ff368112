#include "platform/png/portable_rows.h"

#include <cstring>

namespace pngcore {

void SwizzleTail(const uint8_t* src, uint8_t* dst, size_t from, size_t bytes, PngPixels pixels)
{
    switch (pixels) {
    case PngPixels::Index8:
        std::memcpy(dst + from, src + from, bytes - from);
        break;
    case PngPixels::Gray16:
        for (size_t i = from; i + 2 <= bytes; i += 2) {
            const uint8_t first = src[i];
            dst[i] = src[i + 1];
            dst[i + 1] = first;
        }
        break;
    case PngPixels::Bgr24:
        for (size_t i = from; i + 3 <= bytes; i += 3) {
            const uint8_t first = src[i];
            dst[i + 1] = src[i + 1];
            dst[i] = src[i + 2];
            dst[i + 2] = first;
        }
        break;
    case PngPixels::Bgra32:
        for (size_t i = from; i + 4 <= bytes; i += 4) {
            const uint8_t first = src[i];
            dst[i + 1] = src[i + 1];
            dst[i] = src[i + 2];
            dst[i + 2] = first;
            dst[i + 3] = src[i + 3];
        }
        break;
    }
}

void SwizzlePortable(const uint8_t* src, uint8_t* dst, size_t bytes, PngPixels pixels)
{
    SwizzleTail(src, dst, 0, bytes, pixels);
}

void UnfilterTail(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t from, size_t n,
                  size_t bpp)
{
    // The first pixel has nothing on its left; the bytes before the row
    // belong to something else and must not be read.
    for (; from < bpp && from < n; ++from) {
        const uint8_t b = prev[from];
        const uint8_t predicted = filter == 2 || filter == 4 ? b : filter == 3 ? b >> 1 : 0;
        row[from] = static_cast<uint8_t>(row[from] + predicted);
    }
    switch (filter) {
    case 1:
        for (size_t i = from; i < n; ++i)
            row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
        break;
    case 2:
        for (size_t i = from; i < n; ++i)
            row[i] = static_cast<uint8_t>(row[i] + prev[i]);
        break;
    case 3:
        for (size_t i = from; i < n; ++i)
            row[i] = static_cast<uint8_t>(row[i] + ((row[i - bpp] + prev[i]) >> 1));
        break;
    case 4:
        for (size_t i = from; i < n; ++i)
            row[i] = static_cast<uint8_t>(row[i] + PaethPredictor(row[i - bpp], prev[i], prev[i - bpp]));
        break;
    default:
        break;
    }
}

void UnfilterRowPortable(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t n, size_t bpp)
{
    UnfilterTail(filter, row, prev, 0, n, bpp);
}

void UnfilterUpIntoPortable(const uint8_t* residuals, const uint8_t* prev, uint8_t* out, size_t n,
                            PngPixels pixels)
{
    SwizzlePortable(residuals, out, n, pixels);
    UnfilterRowPortable(2, out, prev, n, 1);  // Up looks at no other pixel
}

} // namespace pngcore
