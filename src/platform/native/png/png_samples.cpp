#include "platform/native/png/png_samples.h"

#include <cstring>
#include <utility>

void ToPngSamples(PngPixels pixels, const uint8_t* in, uint32_t width, uint8_t* out)
{
    switch (pixels) {
    case PngPixels::Index8:
        std::memcpy(out, in, width);
        return;
    case PngPixels::Gray16:
        for (uint32_t x = 0; x < width; ++x) {
            out[2 * x] = in[2 * x + 1];
            out[2 * x + 1] = in[2 * x];
        }
        return;
    case PngPixels::Bgr24:
        for (uint32_t x = 0; x < width; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
        return;
    case PngPixels::Bgra32:
        for (uint32_t x = 0; x < width; ++x) {
            out[4 * x] = in[4 * x + 2];
            out[4 * x + 1] = in[4 * x + 1];
            out[4 * x + 2] = in[4 * x];
            out[4 * x + 3] = in[4 * x + 3];
        }
        return;
    }
}

void FromPngSamplesInPlace(PngPixels pixels, uint8_t* row, uint32_t width)
{
    switch (pixels) {
    case PngPixels::Index8:
        return;
    case PngPixels::Gray16:
        for (uint32_t x = 0; x < width; ++x)
            std::swap(row[2 * x], row[2 * x + 1]);
        return;
    case PngPixels::Bgr24:
        for (uint32_t x = 0; x < width; ++x)
            std::swap(row[3 * x], row[3 * x + 2]);
        return;
    case PngPixels::Bgra32:
        for (uint32_t x = 0; x < width; ++x)
            std::swap(row[4 * x], row[4 * x + 2]);
        return;
    }
}
