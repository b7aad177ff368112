// Frames for the PNG engine tests, in every layout and kind of content.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/png/png.h"
#include "platform/png/readers.h"
#include "platform/png/simd_path.h"
#include "tests/support/reference_png.h"

enum class Content { Random, Flat, Gradient, Photo, Text, Sparse, Smooth };

const char* ContentName(Content content);
const char* PixelsName(PngPixels pixels);
const char* PathName(PngSimdPath path);

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

// Deflate code lengths of the distance alphabet in the first block of a
// PNG's image data (HDIST + 1). The match-free writer sends exactly one.
unsigned FirstBlockDistanceCodes(const std::vector<uint8_t>& png);

Frame MakeFrame(uint32_t width, uint32_t height, PngPixels pixels, Content content,
                uint32_t seed = 1);

// True when `decoded` holds exactly the frame's pixels.
bool SamePixels(const Frame& frame, const DecodedPng& decoded);

// Every path the processor can run, the portable one first.
std::vector<PngSimdPath> AvailablePaths();

// Restores the best path when a test ends.
struct ForcedPath {
    explicit ForcedPath(PngSimdPath path) { PngForceSimdPath(path); }
    ~ForcedPath() { PngForceSimdPath(PngBestSimdPath()); }
};
