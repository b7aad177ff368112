// Differential fuzzing of the fast PNG reader and the match-free writer.
//
// Reader: whatever the fast reader decodes, libspng alone must decode to
// the same size, layout and pixels (the fast reader may decline anything).
// The first byte's low bit asks for every chunk CRC to be recomputed first,
// so that damage reaches the inflater and the row filters instead of
// stopping at the CRC check.
//
// Writer: the input's bytes become a small image in each layout, coded by
// every path; libspng and the fast reader must give the pixels back, and
// every path must write the same bytes.
//
// Build with clang: -fsanitize=fuzzer,address,undefined against
// talverox_static (which carries the fast PNG library), libspng and
// libdeflate.
#include <spng.h>

#include <libdeflate.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/native/png/fast/fast_png.h"

namespace {

#define DIFF_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,  \
                         #condition);                                                \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

// libspng alone, mapped to the imaging layouts for the kinds the fast
// reader takes; false for anything else or any refusal.
bool SpngDecode(const uint8_t* data, size_t size, DecodedPng& out)
{
    std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), spng_ctx_free);
    spng_ctx* c = ctx.get();
    if (!c || spng_set_crc_action(c, SPNG_CRC_ERROR, SPNG_CRC_ERROR) != 0 ||
        spng_set_png_buffer(c, data, size) != 0)
        return false;
    spng_ihdr ihdr{};
    if (spng_get_ihdr(c, &ihdr) != 0 || ihdr.interlace_method != 0)
        return false;
    PngPixels pixels;
    if ((ihdr.color_type == 0 || ihdr.color_type == 3) && ihdr.bit_depth == 8)
        pixels = PngPixels::Index8;
    else if (ihdr.color_type == 0 && ihdr.bit_depth == 16)
        pixels = PngPixels::Gray16;
    else if (ihdr.color_type == 2 && ihdr.bit_depth == 8)
        pixels = PngPixels::Bgr24;
    else if (ihdr.color_type == 6 && ihdr.bit_depth == 8)
        pixels = PngPixels::Bgra32;
    else
        return false;
    size_t bytes = 0;
    if (spng_decoded_image_size(c, SPNG_FMT_PNG, &bytes) != 0 || bytes > (size_t{1} << 26))
        return false;
    out.rows.assign(bytes, 0);
    if (spng_decode_image(c, out.rows.data(), bytes, SPNG_FMT_PNG, 0) != 0)
        return false;
    const size_t bpp = PngBytesPerPixel(pixels);
    if (pixels == PngPixels::Bgr24 || pixels == PngPixels::Bgra32) {
        for (size_t i = 0; i + bpp <= bytes; i += bpp)
            std::swap(out.rows[i], out.rows[i + 2]);
    }
    out.width = ihdr.width;
    out.height = ihdr.height;
    out.pixels = pixels;
    out.stride = size_t{ihdr.width} * bpp;
    return true;
}

void RepairCrcs(std::vector<uint8_t>& png)
{
    for (size_t pos = 8; pos + 12 <= png.size();) {
        const size_t length = (size_t{png[pos]} << 24) | (png[pos + 1] << 16) | (png[pos + 2] << 8) | png[pos + 3];
        if (length > png.size() - pos - 12)
            return;
        const uint32_t crc = libdeflate_crc32(0, png.data() + pos + 4, length + 4);
        for (int i = 0; i < 4; ++i)
            png[pos + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        pos += length + 12;
    }
}

void CheckReader(const std::vector<uint8_t>& png)
{
    DecodedPng fast;
    if (!FastDecodePng(png.data(), png.size(), fast))
        return;
    DecodedPng reference;
    DIFF_CHECK(SpngDecode(png.data(), png.size(), reference));
    DIFF_CHECK(fast.width == reference.width && fast.height == reference.height);
    DIFF_CHECK(fast.pixels == reference.pixels);
    DIFF_CHECK(fast.stride % 4 == 0);
    const size_t rowBytes = size_t{fast.width} * PngBytesPerPixel(fast.pixels);
    for (uint32_t y = 0; y < fast.height; ++y) {
        DIFF_CHECK(std::memcmp(fast.rows.data() + y * fast.stride,
                               reference.rows.data() + y * reference.stride, rowBytes) == 0);
    }
}

void CheckWriter(const uint8_t* data, size_t size)
{
    if (size < 3)
        return;
    const uint32_t width = 1 + data[0] % 64;
    const PngPixels pixels = static_cast<PngPixels>(data[1] % 4);
    const size_t rowBytes = width * PngBytesPerPixel(pixels);
    const uint32_t height = static_cast<uint32_t>(std::min<size_t>((size - 2) / rowBytes, 64));
    if (height == 0)
        return;
    // Rows exactly as large as the image, so overreads hit the sanitizer.
    std::vector<uint8_t> image(data + 2, data + 2 + rowBytes * height);
    const PngSource source{width, height, pixels, image.data(), static_cast<ptrdiff_t>(rowBytes)};
    std::vector<uint8_t> first;
    for (int path = 0; path <= static_cast<int>(FastPngBestPath()); ++path) {
        FastPngForcePath(static_cast<FastPngPath>(path));
        std::vector<uint8_t> png;
        DIFF_CHECK(FastEncodePng(source, png));
        if (path == 0)
            first = png;
        DIFF_CHECK(png == first);
        DecodedPng fast, reference;
        DIFF_CHECK(FastDecodePng(png.data(), png.size(), fast));
        DIFF_CHECK(SpngDecode(png.data(), png.size(), reference));
        for (uint32_t y = 0; y < height; ++y) {
            DIFF_CHECK(std::memcmp(fast.rows.data() + y * fast.stride, image.data() + y * rowBytes, rowBytes) == 0);
            DIFF_CHECK(std::memcmp(reference.rows.data() + y * rowBytes, image.data() + y * rowBytes, rowBytes) == 0);
        }
    }
    FastPngForcePath(FastPngBestPath());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<uint8_t> png(data + 1, data + size);
    if (data[0] & 1)
        RepairCrcs(png);
    for (int path = 0; path <= static_cast<int>(FastPngBestPath()); ++path) {
        FastPngForcePath(static_cast<FastPngPath>(path));
        CheckReader(png);
    }
    FastPngForcePath(FastPngBestPath());
    CheckWriter(data + 1, size - 1);
    return 0;
}
