// Differential fuzzing of the PNG engine's fast reader and its writer.
//
// Reader: whatever the fast reader decodes, libspng alone must decode to
// the same size, layout and pixels (the fast reader may decline anything),
// and the fast reader must give the same with the band map stripped (the
// serial path) as with it, with and without a pool of workers.
// The first byte's low bit asks for every chunk CRC to be recomputed first,
// so that damage reaches the inflater and the row filters instead of
// stopping at the CRC check.
//
// Our inflater: the input's bytes, read as one band's deflate data, must
// either be declined or inflate exactly as libdeflate inflates them, into
// an output of exactly the claimed size (overruns hit the sanitizer); its
// halves, inflated together as two bands, must each give what they give
// alone.
//
// Writer: the input's bytes become a small image in each layout, coded by
// every path; libspng and the fast reader must give the pixels back, and
// every path must write the same bytes.
//
// Build with clang: -fsanitize=fuzzer,address,undefined against
// talverox_static (which carries the PNG engine), libspng and libdeflate.
#include <libdeflate.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/png/container.h"
#include "platform/png/own_inflate.h"
#include "platform/png/png.h"
#include "platform/png/readers.h"
#include "platform/png/simd_path.h"
#include "platform/png/worker_pool.h"
#include "tests/support/reference_png.h"

namespace {

// Pixels the reference decodes at most, to keep each input quick.
constexpr size_t kReferenceLimit = size_t{1} << 26;

#define DIFF_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,  \
                         #condition);                                                \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

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

PngWorkers& Pool()
{
    static PngWorkers pool(2);
    return pool;
}

// The file without its band map chunks.
std::vector<uint8_t> WithoutMap(const std::vector<uint8_t>& png)
{
    std::vector<uint8_t> out(png.begin(), png.begin() + std::min<size_t>(8, png.size()));
    size_t pos = 8;
    for (; pos + 12 <= png.size();) {
        const size_t length = (size_t{png[pos]} << 24) | (png[pos + 1] << 16) | (png[pos + 2] << 8) | png[pos + 3];
        if (length > png.size() - pos - 12)
            break;
        if (std::memcmp(png.data() + pos + 4, "tvBM", 4) != 0)
            out.insert(out.end(), png.begin() + pos, png.begin() + pos + length + 12);
        pos += length + 12;
    }
    out.insert(out.end(), png.begin() + std::min(pos, png.size()), png.end());
    return out;
}

bool SameImage(const DecodedPng& a, const DecodedPng& b)
{
    if (a.width != b.width || a.height != b.height || a.pixels != b.pixels || a.stride != b.stride)
        return false;
    return std::memcmp(a.rows.data(), b.rows.data(), a.stride * a.height) == 0;
}

void CheckReader(const std::vector<uint8_t>& png)
{
    DecodedPng fast;
    const bool banded = pngcore::DecodePlainPng(png.data(), png.size(), fast, &Pool());
    const std::vector<uint8_t> plain = WithoutMap(png);
    DecodedPng serial, alone;
    const bool unbanded = pngcore::DecodePlainPng(plain.data(), plain.size(), serial);
    // Stripping a map whose own CRC is bad leaves an intact file.
    DIFF_CHECK(banded == unbanded || (!pngcore::ChunksIntact(png.data(), png.size()) &&
                                      pngcore::ChunksIntact(plain.data(), plain.size())));
    DIFF_CHECK(pngcore::DecodePlainPng(png.data(), png.size(), alone) == banded);
    if (!banded || !unbanded)
        return;
    DIFF_CHECK(SameImage(fast, serial) && SameImage(fast, alone));
    DecodedPng reference;
    DIFF_CHECK(ReferenceDecode(png.data(), png.size(), reference, kReferenceLimit));
    DIFF_CHECK(fast.width == reference.width && fast.height == reference.height);
    DIFF_CHECK(fast.pixels == reference.pixels);
    DIFF_CHECK(fast.stride % 4 == 0);
    const size_t rowBytes = size_t{fast.width} * PngBytesPerPixel(fast.pixels);
    for (uint32_t y = 0; y < fast.height; ++y) {
        DIFF_CHECK(std::memcmp(fast.rows.data() + y * fast.stride,
                               reference.rows.data() + y * reference.stride, rowBytes) == 0);
    }
}

// One band alone, against libdeflate; true when our inflater took it.
bool CheckOwnBand(const uint8_t* data, size_t size, bool last, uint8_t* out, size_t outSize)
{
    if (!pngcore::InflateOwnBand(data, size, last, out, outSize))
        return false;
    // A band closed by an empty stored block is a whole stream once a
    // final empty block follows it.
    std::vector<uint8_t> in(data, data + size);
    if (!last) {
        in.push_back(0x03);
        in.push_back(0x00);
    }
    std::vector<uint8_t> ref(outSize + 1);
    size_t inUsed = 0, outUsed = 0;
    static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    DIFF_CHECK(libdeflate_deflate_decompress_ex(d, in.data(), in.size(), ref.data(), ref.size(), &inUsed,
                                                &outUsed) == LIBDEFLATE_SUCCESS);
    DIFF_CHECK(inUsed == in.size() && outUsed == outSize);
    DIFF_CHECK(outSize == 0 || std::memcmp(ref.data(), out, outSize) == 0);
    return true;
}

// The input's bytes as one band, and its two halves as two bands inflated
// together, which must each come out as when inflated alone.
void CheckOwnInflate(const uint8_t* data, size_t size)
{
    if (size < 3)
        return;
    const bool last = (data[0] & 1) != 0;
    const size_t outSize = (size_t{data[1]} << 8 | data[2]) * 4;
    std::unique_ptr<uint8_t[]> out(new uint8_t[outSize == 0 ? 1 : outSize]);
    CheckOwnBand(data + 3, size - 3, last, out.get(), outSize);

    const size_t half = 3 + (size - 3) / 2, sizeB = outSize / 3 + (data[0] >> 1);
    const pngcore::OwnBand a{data + 3, half - 3, false, out.get(), outSize};
    std::unique_ptr<uint8_t[]> outB(new uint8_t[sizeB == 0 ? 1 : sizeB]);
    const pngcore::OwnBand b{data + half, size - half, last, outB.get(), sizeB};
    bool ok[2];
    pngcore::InflateOwnBands(a, b, ok);
    std::vector<uint8_t> togetherA(out.get(), out.get() + outSize), togetherB(outB.get(), outB.get() + sizeB);
    DIFF_CHECK(ok[0] == CheckOwnBand(a.in, a.inSize, a.last, out.get(), outSize));
    DIFF_CHECK(!ok[0] || std::memcmp(togetherA.data(), out.get(), outSize) == 0);
    DIFF_CHECK(ok[1] == CheckOwnBand(b.in, b.inSize, b.last, outB.get(), sizeB));
    DIFF_CHECK(!ok[1] || std::memcmp(togetherB.data(), outB.get(), sizeB) == 0);
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
    for (int path = 0; path <= static_cast<int>(PngBestSimdPath()); ++path) {
        PngForceSimdPath(static_cast<PngSimdPath>(path));
        std::vector<uint8_t> png;
        DIFF_CHECK(EncodePng(source, png));
        if (path == 0)
            first = png;
        DIFF_CHECK(png == first);
        DecodedPng fast, reference;
        DIFF_CHECK(pngcore::DecodePlainPng(png.data(), png.size(), fast));
        DIFF_CHECK(ReferenceDecode(png.data(), png.size(), reference, kReferenceLimit));
        for (uint32_t y = 0; y < height; ++y) {
            DIFF_CHECK(std::memcmp(fast.rows.data() + y * fast.stride, image.data() + y * rowBytes, rowBytes) == 0);
            DIFF_CHECK(std::memcmp(reference.rows.data() + y * rowBytes, image.data() + y * rowBytes, rowBytes) == 0);
        }
    }
    PngForceSimdPath(PngBestSimdPath());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<uint8_t> png(data + 1, data + size);
    if (data[0] & 1)
        RepairCrcs(png);
    for (int path = 0; path <= static_cast<int>(PngBestSimdPath()); ++path) {
        PngForceSimdPath(static_cast<PngSimdPath>(path));
        CheckReader(png);
    }
    PngForceSimdPath(PngBestSimdPath());
    CheckOwnInflate(data, size);
    CheckWriter(data + 1, size - 1);
    return 0;
}
