// DecodePng: the fast reader first, libspng for whatever it declines.
#include "platform/png/png.h"

#include "platform/png/readers.h"

bool DecodePng(const uint8_t* data, size_t size, DecodedPng& out)
{
    return DecodePng(data, size, out, nullptr);
}

bool DecodePng(const uint8_t* data, size_t size, DecodedPng& out, PngWorkers* workers)
{
    return pngcore::DecodePlainPng(data, size, out, workers) || pngcore::DecodeAnyPng(data, size, out);
}
