// EncodePng and DecodePng: thin dispatchers, so that a faster writer or
// reader can take over a case without callers noticing.
#include "platform/native/png/png_codec.h"

#include "platform/native/png/fast/fast_png.h"
#include "platform/native/png/png_reader.h"

bool EncodePng(const PngSource& source, std::vector<uint8_t>& out)
{
    return FastEncodePng(source, out);
}

bool DecodePng(const uint8_t* data, size_t size, DecodedPng& out)
{
    // The fast reader declines all but plain, intact PNGs.
    return FastDecodePng(data, size, out) || ReadPng(data, size, out);
}
