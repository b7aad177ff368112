// The general reader: libspng with limits, mapped to the imaging layouts,
// for every PNG the fast reader declines.
#include <spng.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "platform/png/container.h"
#include "platform/png/kernels.h"
#include "platform/png/readers.h"

namespace pngcore {

namespace {

// deflate cannot expand more than 1032:1, so an image whose filtered rows
// exceed this many times the input is truncated or lying about its size:
// refuse it before allocating.
constexpr size_t kMaxInflateRatio = 1032;
// Ancillary chunk data the reader may keep (text, profiles); none is used.
constexpr size_t kChunkCacheLimit = 8u << 20;

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

struct Plan {
    PngPixels pixels;
    int format;  // spng_format
    int flags;   // spng_decode_flags
    bool unpackIndices;
};

Plan PlanFor(const spng_ihdr& ihdr, bool hasTrns)
{
    const bool alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || hasTrns;
    if (alpha)
        return {PngPixels::Bgra32, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS, false};
    switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_GRAYSCALE:
        if (ihdr.bit_depth == 16) {
            // Host order from FMT_PNG; big-endian hosts swap afterwards.
            return {PngPixels::Gray16, SPNG_FMT_PNG, 0, false};
        }
        return {PngPixels::Index8, SPNG_FMT_G8, 0, false};
    case SPNG_COLOR_TYPE_INDEXED:
        return {PngPixels::Index8, SPNG_FMT_PNG, 0, ihdr.bit_depth < 8};
    default:
        return {PngPixels::Bgr24, SPNG_FMT_RGB8, 0, false};
    }
}

// Bytes of filtered data (filter bytes included) the image's IDAT stream
// must inflate to, summed over Adam7 passes when interlaced. Overflow-safe:
// returns SIZE_MAX when the sum does not fit.
size_t FilteredBytes(const spng_ihdr& ihdr)
{
    static constexpr unsigned kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    const uint64_t bitsPerPixel = uint64_t{kChannels[ihdr.color_type]} * ihdr.bit_depth;
    auto rowsBytes = [&](uint64_t w, uint64_t h) -> uint64_t {
        if (w == 0 || h == 0)
            return 0;
        return ((w * bitsPerPixel + 7) / 8 + 1) * h;  // < 2^31 * 64 * 2^31
    };
    uint64_t total = 0;
    if (ihdr.interlace_method == SPNG_INTERLACE_NONE) {
        total = rowsBytes(ihdr.width, ihdr.height);
    } else {
        static constexpr uint32_t kStart[7][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0},
                                                  {0, 2}, {1, 0}, {0, 1}};
        static constexpr uint32_t kStep[7][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4},
                                                 {2, 4}, {2, 2}, {1, 2}};
        for (int p = 0; p < 7; ++p) {
            uint64_t w = ihdr.width > kStart[p][0]
                             ? (ihdr.width - kStart[p][0] + kStep[p][0] - 1) / kStep[p][0]
                             : 0;
            uint64_t h = ihdr.height > kStart[p][1]
                             ? (ihdr.height - kStart[p][1] + kStep[p][1] - 1) / kStep[p][1]
                             : 0;
            total += rowsBytes(w, h);
        }
    }
    return total > std::numeric_limits<size_t>::max() ? std::numeric_limits<size_t>::max()
                                                       : static_cast<size_t>(total);
}

// Spreads packed 1/2/4-bit indices to one byte each, from the row's end
// so that it works in place.
void UnpackIndices(uint8_t* row, uint32_t width, unsigned depth)
{
    const unsigned perByte = 8 / depth;
    const unsigned mask = (1u << depth) - 1;
    for (uint32_t x = width; x-- > 0;) {
        unsigned shift = 8 - depth * (x % perByte + 1);
        row[x] = static_cast<uint8_t>(row[x / perByte] >> shift & mask);
    }
}

// libspng for every layout; the chunks have been checked already.
bool DecodeWithSpng(const uint8_t* data, size_t size, DecodedPng& out)
{
    Context ctx(spng_ctx_new(0));
    if (!ctx)
        return false;
    spng_ctx* c = ctx.get();
    if (spng_set_crc_action(c, SPNG_CRC_ERROR, SPNG_CRC_ERROR) != 0 ||
        spng_set_image_limits(c, kMaxWidth, 0x7FFFFFFF) != 0 ||
        spng_set_chunk_limits(c, std::min<size_t>(size, 0x7FFFFFFF), kChunkCacheLimit) != 0 ||
        spng_set_png_buffer(c, data, size) != 0)
        return false;

    spng_ihdr ihdr{};
    if (spng_get_ihdr(c, &ihdr) != 0)
        return false;
    spng_trns trns{};
    const bool hasTrns = spng_get_trns(c, &trns) == 0;
    const Plan plan = PlanFor(ihdr, hasTrns);

    if (size > std::numeric_limits<size_t>::max() / kMaxInflateRatio ||
        FilteredBytes(ihdr) > size * kMaxInflateRatio)
        return false;

    size_t decodedSize = 0;
    if (spng_decoded_image_size(c, plan.format, &decodedSize) != 0)
        return false;
    const size_t bpp = PngBytesPerPixel(plan.pixels);
    const size_t rowBytes = size_t{ihdr.width} * bpp;  // width < 2^29: no overflow
    const size_t stride = (rowBytes + 3) & ~size_t{3};
    if (stride > 0x7FFFFFFF || ihdr.height > std::numeric_limits<size_t>::max() / stride)
        return false;
    const size_t total = stride * ihdr.height;
    const size_t tightRow = decodedSize / ihdr.height;

    try {
        out.rows.assign(total > decodedSize ? total : decodedSize, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (spng_decode_image(c, out.rows.data(), decodedSize, plan.format, plan.flags) != 0)
        return false;

    // Rows arrive tightly packed; spread them to the aligned stride from the
    // last row back so no row is overwritten before it moves.
    // Colour order is swapped through a row of scratch: vector kernels may
    // not work in place.
    const bool swizzle = plan.pixels == PngPixels::Bgr24 || plan.pixels == PngPixels::Bgra32 ||
                         (plan.pixels == PngPixels::Gray16 && std::endian::native != std::endian::little);
    std::vector<uint8_t> scratch(swizzle ? rowBytes : 0);
    const FastKernels& kernels = ActiveKernels();
    uint8_t* base = out.rows.data();
    for (uint32_t r = ihdr.height; r-- > 0;) {
        uint8_t* row = base + r * stride;
        if (tightRow != stride)
            std::memmove(row, base + r * tightRow, tightRow);
        if (plan.unpackIndices)
            UnpackIndices(row, ihdr.width, ihdr.bit_depth);
        if (swizzle) {
            kernels.swizzle(row, scratch.data(), rowBytes, plan.pixels);
            std::memcpy(row, scratch.data(), rowBytes);
        }
    }
    if (rowBytes < stride) {
        for (uint32_t r = 0; r < ihdr.height; ++r)
            std::memset(base + r * stride + rowBytes, 0, stride - rowBytes);
    }
    out.width = ihdr.width;
    out.height = ihdr.height;
    out.pixels = plan.pixels;
    out.stride = stride;
    return true;
}

}  // namespace

bool DecodeAnyPng(const uint8_t* data, size_t size, DecodedPng& out)
{
    // libspng stops reading once the image is complete, so damage after
    // the last image byte (a cut IDAT CRC, a lost IEND) would go unseen:
    // check the framing and every CRC first.
    try {
        return data != nullptr && ChunksIntact(data, size) && DecodeWithSpng(data, size, out);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace pngcore
