// The PNG writer and reader behind the stand-in imaging library. Bitmaps
// call only these two functions, so a faster writer or reader can replace
// either without the rest of the platform layer noticing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Pixel layouts in memory, as the imaging library's formats lay them out.
enum class PngPixels : uint8_t {
    Index8,  // one palette index per byte, meaning gray level i
    Gray16,  // one little-endian 16-bit gray sample
    Bgr24,   // blue, green, red
    Bgra32,  // blue, green, red, alpha
};

// Bytes per pixel of a layout.
constexpr size_t PngBytesPerPixel(PngPixels pixels)
{
    switch (pixels) {
    case PngPixels::Index8: return 1;
    case PngPixels::Gray16: return 2;
    case PngPixels::Bgr24: return 3;
    case PngPixels::Bgra32: return 4;
    }
    return 0;
}

// Rows to encode; row r starts at firstRow + r * stride (stride may be
// negative). The caller guarantees every addressed byte is readable.
struct PngSource {
    uint32_t width;
    uint32_t height;
    PngPixels pixels;
    const uint8_t* firstRow;
    ptrdiff_t stride;
};

// Appends one complete PNG datastream (signature through IEND) to `out`.
// Returns false, with `out` as it was, for a zero-sized image or when memory
// runs out. Thread-safe; each thread keeps its scratch buffers for reuse.
bool EncodePng(const PngSource& source, std::vector<uint8_t>& out);

// A decoded image. Rows are `stride` bytes apart, stride a multiple of 4
// and at least width * PngBytesPerPixel(pixels).
struct DecodedPng {
    uint32_t width = 0;
    uint32_t height = 0;
    PngPixels pixels = PngPixels::Bgr24;
    size_t stride = 0;
    std::vector<uint8_t> rows;
};

// Decodes any valid PNG datastream. Returns false for bytes that are not a
// PNG, for CRC and zlib errors, for truncated data, and for images whose
// rows a signed 32-bit stride cannot address or whose size passes the
// decoder's limits. Thread-safe: keeps no state between calls.
bool DecodePng(const uint8_t* data, size_t size, DecodedPng& out);
