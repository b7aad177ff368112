#include "platform/native/png/png_direct_reader.h"

#include <libdeflate.h>

#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "platform/native/png/png_reader.h"
#include "platform/native/png/png_samples.h"
#include "platform/native/png/png_unfilter.h"

namespace {

constexpr size_t kMaxInflateRatio = 1032;  // deflate's largest expansion

uint32_t LoadBe32(const uint8_t* at)
{
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

struct Header {
    uint32_t width;
    uint32_t height;
    PngPixels pixels;
    size_t bpp;  // bytes per pixel in the file
};

bool ReadHeader(const uint8_t* ihdr, Header& header)
{
    header.width = LoadBe32(ihdr);
    header.height = LoadBe32(ihdr + 4);
    const uint8_t depth = ihdr[8];
    const uint8_t type = ihdr[9];
    if (ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] != 0)
        return false;  // other methods, or interlaced
    if (type == 0 && depth == 8)
        header.pixels = PngPixels::Index8, header.bpp = 1;
    else if (type == 0 && depth == 16)
        header.pixels = PngPixels::Gray16, header.bpp = 2;
    else if (type == 2 && depth == 8)
        header.pixels = PngPixels::Bgr24, header.bpp = 3;
    else if (type == 6 && depth == 8)
        header.pixels = PngPixels::Bgra32, header.bpp = 4;
    else
        return false;
    return header.width != 0 && header.height != 0 && header.width <= kPngReadMaxWidth &&
           header.height <= 0x7FFFFFFF;
}

bool IsCritical(const uint8_t* type) { return (type[0] & 0x20) == 0; }

void FromPngRow(PngPixels pixels, const uint8_t* in, uint32_t width, uint8_t* out)
{
    // The conversions are byte swaps, each its own inverse.
    if (pixels == PngPixels::Gray16 && std::endian::native == std::endian::big)
        std::memcpy(out, in, size_t{width} * 2);
    else
        ToPngSamples(pixels, in, width, out);
}

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

libdeflate_decompressor* ThreadDecompressor()
{
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    return decompressor.get();
}

}  // namespace

DirectRead ReadPngDirect(const uint8_t* data, size_t, DecodedPng& out)
{
    // Chunk framing and CRCs are already checked: walk without bounds fear.
    size_t at = 8;
    if (LoadBe32(data + at) != 13 || std::memcmp(data + at + 4, "IHDR", 4) != 0)
        return DirectRead::Declined;
    Header header{};
    if (!ReadHeader(data + at + 8, header))
        return DirectRead::Declined;
    at += 13 + 12;

    // One IDAT run. A single chunk is inflated where it lies; several (other
    // writers cut every few kilobytes) are joined into one buffer first.
    const uint8_t* idat = nullptr;
    size_t idatSize = 0;
    size_t idatChunks = 0;
    size_t runStart = 0;
    bool idatDone = false;
    for (;;) {
        const uint32_t length = LoadBe32(data + at);
        const uint8_t* type = data + at + 4;
        if (std::memcmp(type, "IEND", 4) == 0)
            break;
        if (std::memcmp(type, "IDAT", 4) == 0) {
            if (idatDone)
                return DirectRead::Declined;
            if (idatChunks++ == 0) {
                idat = data + at + 8;
                runStart = at;
            }
            idatSize += length;
        } else {
            if (idatChunks != 0)
                idatDone = true;
            // PLTE, tRNS and unknown critical chunks change the meaning of
            // the pixels: libspng decides about them.
            if (IsCritical(type) || std::memcmp(type, "tRNS", 4) == 0)
                return DirectRead::Declined;
        }
        at += size_t{length} + 12;
    }
    if (idatChunks == 0)
        return DirectRead::Failed;
    if (idatChunks > 1) {
        thread_local std::vector<uint8_t> joined;
        try {
            joined.resize(idatSize);
        } catch (const std::bad_alloc&) {
            return DirectRead::Failed;
        }
        size_t filled = 0;
        for (size_t chunk = runStart; filled < idatSize;) {
            const uint32_t length = LoadBe32(data + chunk);
            std::memcpy(joined.data() + filled, data + chunk + 8, length);
            filled += length;
            chunk += size_t{length} + 12;
        }
        idat = joined.data();
    }

    const size_t rowBytes = size_t{header.width} * header.bpp;
    const size_t filteredRow = rowBytes + 1;
    const size_t stride = (rowBytes + 3) & ~size_t{3};
    if (stride > 0x7FFFFFFF || header.height > std::numeric_limits<size_t>::max() / filteredRow ||
        header.height > std::numeric_limits<size_t>::max() / stride)
        return DirectRead::Failed;
    const size_t filteredSize = filteredRow * header.height;
    if (idatSize > std::numeric_limits<size_t>::max() / kMaxInflateRatio ||
        filteredSize > idatSize * kMaxInflateRatio)
        return DirectRead::Failed;

    libdeflate_decompressor* decompressor = ThreadDecompressor();
    if (decompressor == nullptr)
        return DirectRead::Failed;
    thread_local std::vector<uint8_t> filtered;
    try {
        // Four spare bytes: the paeth step reads a whole word per pixel.
        if (filtered.size() < filteredSize + 4)
            filtered.resize(filteredSize + 4);
        out.rows.resize(stride * header.height);
    } catch (const std::bad_alloc&) {
        return DirectRead::Failed;
    }
    // Exactly the filtered rows: a stream that ends early or runs on fails.
    if (libdeflate_zlib_decompress(decompressor, idat, idatSize, filtered.data(), filteredSize,
                                   nullptr) != LIBDEFLATE_SUCCESS)
        return DirectRead::Failed;

    std::vector<uint8_t> zeros(rowBytes + 4, 0);
    const uint8_t* prev = zeros.data();
    for (uint32_t r = 0; r < header.height; ++r) {
        uint8_t* line = filtered.data() + r * filteredRow;
        if (!UnfilterRow(line[0], line + 1, prev, rowBytes, header.bpp))
            return DirectRead::Failed;
        uint8_t* target = out.rows.data() + r * stride;
        FromPngRow(header.pixels, line + 1, header.width, target);
        std::memset(target + rowBytes, 0, stride - rowBytes);
        prev = line + 1;
    }
    out.width = header.width;
    out.height = header.height;
    out.pixels = header.pixels;
    out.stride = stride;
    return DirectRead::Decoded;
}
