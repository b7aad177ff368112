#include "test_frames.h"

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
    case Content::Smooth: return "Smooth";
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

const char* PathName(PngSimdPath path)
{
    switch (path) {
    case PngSimdPath::Portable: return "Portable";
    case PngSimdPath::Sse41: return "Sse41";
    case PngSimdPath::Avx2: return "Avx2";
    case PngSimdPath::Avx512: return "Avx512";
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

// Slow shading in 8x8 blocks, each with one of a few small ramps, the way
// JPEG-sourced frames repeat short residual patterns.
uint8_t SmoothSample(uint32_t x, uint32_t y, size_t channel)
{
    const uint32_t bx = x / 8, by = y / 8;
    const double v = 120 + 50 * std::sin(bx * 0.11 + static_cast<double>(channel)) * std::cos(by * 0.07);
    const uint32_t ramp = (bx * 3 + by * 5 + static_cast<uint32_t>(channel)) % 4;
    return static_cast<uint8_t>(std::clamp(static_cast<int>(v) + static_cast<int>((x % 8 + y % 8) * ramp / 2), 0, 255));
}

} // namespace

unsigned FirstBlockDistanceCodes(const std::vector<uint8_t>& png)
{
    // Signature, IHDR (25 bytes), then the first chunk that is IDAT; its
    // data opens with the zlib header, then BFINAL, BTYPE, HLIT, HDIST.
    for (size_t at = 33; at + 12 <= png.size();) {
        const uint32_t length = (uint32_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
        if (std::memcmp(png.data() + at + 4, "IDAT", 4) == 0 && length >= 4) {
            const uint32_t bits = png[at + 10] | (png[at + 11] << 8);
            return ((bits >> 1) & 3) == 2 ? ((bits >> 8) & 0x1F) + 1 : 0;
        }
        at += size_t{length} + 12;
    }
    return 0;
}

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
                case Content::Smooth: out = SmoothSample(x, y, ch); break;
                }
            }
        }
    }
    return f;
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

std::vector<PngSimdPath> AvailablePaths()
{
    std::vector<PngSimdPath> paths;
    for (int p = 0; p <= static_cast<int>(PngBestSimdPath()); ++p)
        paths.push_back(static_cast<PngSimdPath>(p));
    return paths;
}
