// The bitmap behind a GpBitmap handle: rows either borrowed from the
// caller (made from Scan0) or owned (decoded), plus an optional reference
// to the stream it was decoded from and the state of a pixel lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"
#include "platform/png/png.h"

struct ImagingBitmap final : GpBitmap {
    ImagingBitmap();
    ~ImagingBitmap() override;
    ImagingBitmap(const ImagingBitmap&) = delete;
    ImagingBitmap& operator=(const ImagingBitmap&) = delete;

    uint32_t width = 0;
    uint32_t height = 0;
    PixelFormat format = 0;
    PngPixels pixels = PngPixels::Bgr24;
    uint8_t* firstRow = nullptr;  // row r at firstRow + r * stride
    ptrdiff_t stride = 0;
    std::vector<uint8_t> ownedRows;  // empty when the rows are borrowed
    IStream* source = nullptr;       // one reference, released with the bitmap

    // Pixel lock. Rows that are not 4-byte aligned go through `lockCopy`.
    bool locked = false;
    UINT lockFlags = 0;
    GpRect lockRect{};
    BitmapData lockData{};
    std::vector<uint8_t> lockCopy;
};

// Rows a disposed bitmap decoded into, to decode the next frame into (empty
// when none is kept). Their size and contents are left as they were.
std::vector<uint8_t> TakeRowBuffer();

// Registers a new bitmap so that handles can be checked; the registry owns
// it until DisposeBitmap. Returns false (and deletes it) when out of memory.
bool RegisterBitmap(ImagingBitmap* bitmap);

// The bitmap behind a handle, or null for a handle that is not a live
// bitmap (never made, or disposed).
ImagingBitmap* FindBitmap(GpImage* image);

// Unregisters and deletes; false for a handle that is not a live bitmap.
bool DisposeBitmap(GpImage* image);

// The layout of a supported pixel format; false for any other format.
bool PixelsOfFormat(PixelFormat format, PngPixels& pixels);
PixelFormat FormatOfPixels(PngPixels pixels);
