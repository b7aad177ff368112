#include "test_frames.h"

#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>

const char* ContentName(Content content)
{
    switch (content) {
    case Content::Random: return "Random";
    case Content::Flat: return "Flat";
    case Content::Gradient: return "Gradient";
    case Content::Photo: return "Photo";
    case Content::Text: return "Text";
    case Content::Sparse: return "Sparse";
    }
    return "?";
}

const char* PixelsName(PngPixels pixels)
{
    switch (pixels) {
    case PngPixels::Index8: return "Index8";
    case PngPixels::Gray16: return "Gray16";
    case PngPixels::Bgr24: return "Bgr24";
    case PngPixels::Bgra32: return "Bgra32";
    }
    return "?";
}

const char* PathName(FastPngPath path)
{
    switch (path) {
    case FastPngPath::Portable: return "Portable";
    case FastPngPath::Sse41: return "Sse41";
    case FastPngPath::Avx2: return "Avx2";
    }
    return "?";
}

PngSource Frame::Source() const
{
    return {width, height, pixels, bytes.data(), static_cast<ptrdiff_t>(stride)};
}

namespace {

// A smooth field with fine noise, roughly like a photograph's residuals.
uint8_t PhotoSample(uint32_t x, uint32_t y, size_t channel, std::mt19937& rng)
{
    const double c = static_cast<double>(channel);
    const double v = 128 + 60 * std::sin(x * 0.031 + c) * std::cos(y * 0.017) +
                     30 * std::sin((x + 2.0 * y) * 0.005 + c * 2.0);
    const int noise = static_cast<int>(rng() % 9) - 4;
    return static_cast<uint8_t>(std::clamp(static_cast<int>(v) + noise, 0, 255));
}

// Dark glyph-like strokes on a flat background, with a few colour bands.
uint8_t TextSample(uint32_t x, uint32_t y, size_t channel)
{
    if (y % 40 < 6)
        return static_cast<uint8_t>(40 * channel + 30);
    const uint32_t cellX = x % 9, cellY = y % 14;
    const uint32_t glyph = (x / 9 * 7 + y / 14 * 13) % 5;
    const bool ink = cellY > 2 && cellY < 12 &&
                     ((glyph == 0 && cellX == 2) || (glyph == 1 && cellY == 7) ||
                      (glyph == 2 && cellX == cellY / 2) || (glyph == 3 && (cellX == 1 || cellX == 6)));
    return ink ? 20 : 235;
}

} // namespace

Frame MakeFrame(uint32_t width, uint32_t height, PngPixels pixels, Content content, uint32_t seed)
{
    Frame f;
    f.width = width;
    f.height = height;
    f.pixels = pixels;
    const size_t bpp = PngBytesPerPixel(pixels);
    f.stride = f.RowBytes() + 3 + seed % 5;
    f.bytes.resize(f.stride * height);
    std::mt19937 rng(seed);
    for (uint8_t& b : f.bytes)
        b = static_cast<uint8_t>(rng());  // padding keeps this junk
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = f.bytes.data() + y * f.stride;
        for (uint32_t x = 0; x < width; ++x) {
            for (size_t ch = 0; ch < bpp; ++ch) {
                uint8_t& out = row[x * bpp + ch];
                switch (content) {
                case Content::Random: break;
                case Content::Flat: out = static_cast<uint8_t>(90 + ch); break;
                case Content::Gradient: out = static_cast<uint8_t>(x * (ch + 1) + y * 3); break;
                case Content::Photo: out = PhotoSample(x, y, ch, rng); break;
                case Content::Text: out = TextSample(x, y, ch); break;
                case Content::Sparse: out = rng() % 23 == 0 ? static_cast<uint8_t>(rng()) : 0; break;
                }
            }
        }
    }
    return f;
}

bool SpngDecode(const uint8_t* data, size_t size, DecodedPng& out)
{
    std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), spng_ctx_free);
    spng_ctx* c = ctx.get();
    if (!c || spng_set_crc_action(c, SPNG_CRC_ERROR, SPNG_CRC_ERROR) != 0 ||
        spng_set_png_buffer(c, data, size) != 0)
        return false;
    spng_ihdr ihdr{};
    if (spng_get_ihdr(c, &ihdr) != 0)
        return false;
    spng_trns trns{};
    if (spng_get_trns(c, &trns) == 0 || ihdr.interlace_method != 0)
        return false;
    PngPixels pixels;
    if (ihdr.color_type == 0 && ihdr.bit_depth == 8)
        pixels = PngPixels::Index8;
    else if (ihdr.color_type == 3 && ihdr.bit_depth == 8)
        pixels = PngPixels::Index8;
    else if (ihdr.color_type == 0 && ihdr.bit_depth == 16)
        pixels = PngPixels::Gray16;
    else if (ihdr.color_type == 2 && ihdr.bit_depth == 8)
        pixels = PngPixels::Bgr24;
    else if (ihdr.color_type == 6 && ihdr.bit_depth == 8)
        pixels = PngPixels::Bgra32;
    else
        return false;
    size_t decodedSize = 0;
    if (spng_decoded_image_size(c, SPNG_FMT_PNG, &decodedSize) != 0 || decodedSize > (1u << 28))
        return false;
    out.rows.assign(decodedSize, 0);
    if (spng_decode_image(c, out.rows.data(), decodedSize, SPNG_FMT_PNG, 0) != 0)
        return false;
    // FMT_PNG gives 16-bit samples in host order already; swap colour.
    const size_t bpp = PngBytesPerPixel(pixels);
    if (pixels == PngPixels::Bgr24 || pixels == PngPixels::Bgra32) {
        for (size_t i = 0; i + bpp <= out.rows.size(); i += bpp)
            std::swap(out.rows[i], out.rows[i + 2]);
    }
    out.width = ihdr.width;
    out.height = ihdr.height;
    out.pixels = pixels;
    out.stride = size_t{ihdr.width} * bpp;
    return true;
}

bool SamePixels(const Frame& frame, const DecodedPng& decoded)
{
    if (decoded.width != frame.width || decoded.height != frame.height ||
        decoded.pixels != frame.pixels || decoded.stride < frame.RowBytes() ||
        decoded.rows.size() < decoded.stride * (frame.height - 1) + frame.RowBytes())
        return false;
    for (uint32_t y = 0; y < frame.height; ++y) {
        if (std::memcmp(frame.Row(y), decoded.rows.data() + y * decoded.stride, frame.RowBytes()) != 0)
            return false;
    }
    return true;
}

std::vector<FastPngPath> AvailablePaths()
{
    std::vector<FastPngPath> paths;
    for (int p = 0; p <= static_cast<int>(FastPngBestPath()); ++p)
        paths.push_back(static_cast<FastPngPath>(p));
    return paths;
}
