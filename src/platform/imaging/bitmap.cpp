// Bitmaps over caller rows, their queries, pixel locks and disposal.
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "platform/imaging/bitmap_store.h"

namespace {

constexpr UINT kLockModes = ImageLockModeRead | ImageLockModeWrite;

size_t AlignedRowBytes(size_t bytes) { return (bytes + 3) & ~size_t{3}; }

}  // namespace

GpStatus WINAPI GdipCreateBitmapFromScan0(INT width, INT height, INT stride, PixelFormat format,
                                          BYTE* scan0, GpBitmap** bitmap)
{
    if (bitmap == nullptr)
        return InvalidParameter;
    *bitmap = nullptr;
    PngPixels pixels;
    if (width <= 0 || height <= 0 || scan0 == nullptr || !PixelsOfFormat(format, pixels))
        return InvalidParameter;
    const uint64_t rowBytes = uint64_t(width) * PngBytesPerPixel(pixels);
    const uint64_t magnitude = stride < 0 ? uint64_t(-int64_t{stride}) : uint64_t(stride);
    if (magnitude < rowBytes)
        return InvalidParameter;
    // Every addressed byte must be reachable by pointer arithmetic.
    if (magnitude * uint64_t(height - 1) + rowBytes >
        uint64_t(std::numeric_limits<ptrdiff_t>::max()))
        return InvalidParameter;
    auto* made = new (std::nothrow) ImagingBitmap;
    if (made == nullptr)
        return OutOfMemory;
    made->width = uint32_t(width);
    made->height = uint32_t(height);
    made->format = format;
    made->pixels = pixels;
    made->firstRow = scan0;
    made->stride = stride;
    if (!RegisterBitmap(made))
        return OutOfMemory;
    *bitmap = made;
    return Ok;
}

GpStatus WINAPI GdipGetImageWidth(GpImage* image, UINT* width)
{
    ImagingBitmap* bitmap = FindBitmap(image);
    if (bitmap == nullptr || width == nullptr)
        return InvalidParameter;
    *width = bitmap->width;
    return Ok;
}

GpStatus WINAPI GdipGetImageHeight(GpImage* image, UINT* height)
{
    ImagingBitmap* bitmap = FindBitmap(image);
    if (bitmap == nullptr || height == nullptr)
        return InvalidParameter;
    *height = bitmap->height;
    return Ok;
}

GpStatus WINAPI GdipGetImagePixelFormat(GpImage* image, PixelFormat* format)
{
    ImagingBitmap* bitmap = FindBitmap(image);
    if (bitmap == nullptr || format == nullptr)
        return InvalidParameter;
    *format = bitmap->format;
    return Ok;
}

// Locks hand out rows a multiple of 4 bytes apart, as the platform library
// does. Rows already laid out that way are handed out in place; others are
// copied, and copied back on unlock when the lock allowed writing.
GpStatus WINAPI GdipBitmapLockBits(GpBitmap* handle, const GpRect* rect, UINT flags,
                                   PixelFormat format, BitmapData* locked)
{
    ImagingBitmap* bitmap = FindBitmap(handle);
    if (bitmap == nullptr || locked == nullptr || (flags & kLockModes) == 0 ||
        (flags & ~kLockModes) != 0)
        return InvalidParameter;
    if (bitmap->locked)
        return WrongState;
    // No conversion: only the bitmap's own format.
    if (format != bitmap->format)
        return InvalidParameter;
    GpRect area = rect != nullptr ? *rect
                                  : GpRect{0, 0, INT(bitmap->width), INT(bitmap->height)};
    if (area.X < 0 || area.Y < 0 || area.Width <= 0 || area.Height <= 0 ||
        int64_t{area.X} + area.Width > int64_t{bitmap->width} ||
        int64_t{area.Y} + area.Height > int64_t{bitmap->height})
        return InvalidParameter;

    const size_t bpp = PngBytesPerPixel(bitmap->pixels);
    const size_t rowBytes = size_t(area.Width) * bpp;
    uint8_t* first = bitmap->firstRow + ptrdiff_t{area.Y} * bitmap->stride +
                     ptrdiff_t(size_t(area.X) * bpp);
    BitmapData data{};
    data.Width = UINT(area.Width);
    data.Height = UINT(area.Height);
    data.PixelFormat = format;
    if (bitmap->stride > 0 && bitmap->stride % 4 == 0) {
        data.Stride = INT(bitmap->stride);
        data.Scan0 = first;
    } else {
        const size_t copyStride = AlignedRowBytes(rowBytes);
        if (copyStride > size_t(std::numeric_limits<INT>::max()))
            return ValueOverflow;
        try {
            bitmap->lockCopy.assign(copyStride * size_t(area.Height), 0);
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        }
        for (INT r = 0; r < area.Height; ++r)
            std::memcpy(bitmap->lockCopy.data() + size_t(r) * copyStride,
                        first + ptrdiff_t{r} * bitmap->stride, rowBytes);
        data.Stride = INT(copyStride);
        data.Scan0 = bitmap->lockCopy.data();
    }
    bitmap->locked = true;
    bitmap->lockFlags = flags;
    bitmap->lockRect = area;
    bitmap->lockData = data;
    *locked = data;
    return Ok;
}

GpStatus WINAPI GdipBitmapUnlockBits(GpBitmap* handle, BitmapData* locked)
{
    ImagingBitmap* bitmap = FindBitmap(handle);
    if (bitmap == nullptr || locked == nullptr)
        return InvalidParameter;
    if (!bitmap->locked)
        return WrongState;
    if (!bitmap->lockCopy.empty() && (bitmap->lockFlags & ImageLockModeWrite) != 0) {
        const GpRect& area = bitmap->lockRect;
        const size_t bpp = PngBytesPerPixel(bitmap->pixels);
        const size_t rowBytes = size_t(area.Width) * bpp;
        uint8_t* first = bitmap->firstRow + ptrdiff_t{area.Y} * bitmap->stride +
                         ptrdiff_t(size_t(area.X) * bpp);
        for (INT r = 0; r < area.Height; ++r)
            std::memcpy(first + ptrdiff_t{r} * bitmap->stride,
                        bitmap->lockCopy.data() + size_t(r) * size_t(bitmap->lockData.Stride),
                        rowBytes);
    }
    bitmap->lockCopy.clear();
    bitmap->lockCopy.shrink_to_fit();
    bitmap->locked = false;
    return Ok;
}

GpStatus WINAPI GdipDisposeImage(GpImage* image)
{
    // Disposing also ends a lock still held; its pixels are not written back.
    return DisposeBitmap(image) ? Ok : InvalidParameter;
}
