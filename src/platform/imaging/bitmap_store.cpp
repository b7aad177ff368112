#include "platform/imaging/bitmap_store.h"

#include <mutex>
#include <unordered_set>

#include "platform/common/platform_state.h"

namespace {

std::mutex registryMutex;

std::unordered_set<GpImage*>& Registry()
{
    static std::unordered_set<GpImage*> registry;
    return registry;
}

// Decoded rows of bitmaps gone, for the next decode. A frame's rows are
// megabytes: fresh ones cost page faults on every frame, more so where
// large blocks come straight from the system (Windows' heap).
constexpr size_t kKeptRowBuffers = 2;
std::mutex keptMutex;
std::vector<std::vector<uint8_t>> keptRows;

}  // namespace

std::vector<uint8_t> TakeRowBuffer()
{
    std::lock_guard lock(keptMutex);
    if (keptRows.empty())
        return {};
    std::vector<uint8_t> rows = std::move(keptRows.back());
    keptRows.pop_back();
    return rows;
}

ImagingBitmap::ImagingBitmap() { ++Counters().liveBitmaps; }

ImagingBitmap::~ImagingBitmap()
{
    if (source != nullptr)
        source->Release();
    if (!ownedRows.empty()) {
        std::lock_guard lock(keptMutex);
        if (keptRows.size() < kKeptRowBuffers) {
            try {
                keptRows.push_back(std::move(ownedRows));
            } catch (...) {
                // Freed with the bitmap instead.
            }
        }
    }
    --Counters().liveBitmaps;
}

bool RegisterBitmap(ImagingBitmap* bitmap)
{
    try {
        std::lock_guard lock(registryMutex);
        Registry().insert(bitmap);
        return true;
    } catch (...) {
        delete bitmap;
        return false;
    }
}

ImagingBitmap* FindBitmap(GpImage* image)
{
    std::lock_guard lock(registryMutex);
    return Registry().count(image) != 0 ? static_cast<ImagingBitmap*>(image) : nullptr;
}

bool DisposeBitmap(GpImage* image)
{
    {
        std::lock_guard lock(registryMutex);
        if (Registry().erase(image) == 0)
            return false;
    }
    delete static_cast<ImagingBitmap*>(image);
    return true;
}

bool PixelsOfFormat(PixelFormat format, PngPixels& pixels)
{
    switch (format) {
    case PixelFormat8bppIndexed: pixels = PngPixels::Index8; return true;
    case PixelFormat16bppGrayScale: pixels = PngPixels::Gray16; return true;
    case PixelFormat24bppRGB: pixels = PngPixels::Bgr24; return true;
    case PixelFormat32bppARGB: pixels = PngPixels::Bgra32; return true;
    default: return false;
    }
}

PixelFormat FormatOfPixels(PngPixels pixels)
{
    switch (pixels) {
    case PngPixels::Index8: return PixelFormat8bppIndexed;
    case PngPixels::Gray16: return PixelFormat16bppGrayScale;
    case PngPixels::Bgr24: return PixelFormat24bppRGB;
    case PngPixels::Bgra32: return PixelFormat32bppARGB;
    }
    return PixelFormat24bppRGB;
}
