// Frames for the fast PNG tests, and an independent libspng decode to
// check them against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/native/png/fast/fast_png.h"

enum class Content { Random, Flat, Gradient, Photo, Text, Sparse };

const char* ContentName(Content content);
const char* PixelsName(PngPixels pixels);
const char* PathName(FastPngPath path);

// Rows in the imaging layout, `stride` bytes apart (stride >= row bytes,
// padding filled with junk so that a reader of padding would show).
struct Frame {
    uint32_t width = 0;
    uint32_t height = 0;
    PngPixels pixels = PngPixels::Bgr24;
    size_t stride = 0;
    std::vector<uint8_t> bytes;

    size_t RowBytes() const { return size_t{width} * PngBytesPerPixel(pixels); }
    const uint8_t* Row(size_t r) const { return bytes.data() + r * stride; }
    PngSource Source() const;
};

Frame MakeFrame(uint32_t width, uint32_t height, PngPixels pixels, Content content,
                uint32_t seed = 1);

// Decodes with libspng into the imaging layouts (8-bit gray and palette as
// indices, 16-bit gray little-endian, RGB as BGR, RGBA as BGRA), tightly
// packed rows. Returns false where libspng refuses the data or the image
// is of another kind.
bool SpngDecode(const uint8_t* data, size_t size, DecodedPng& out);

// True when `decoded` holds exactly the frame's pixels.
bool SamePixels(const Frame& frame, const DecodedPng& decoded);

// Every path the processor can run, the portable one first.
std::vector<FastPngPath> AvailablePaths();

// Restores the best path when a test ends.
struct ForcedPath {
    explicit ForcedPath(FastPngPath path) { FastPngForcePath(path); }
    ~ForcedPath() { FastPngForcePath(FastPngBestPath()); }
};
