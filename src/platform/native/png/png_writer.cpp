#include "platform/native/png/png_writer.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/native/png/png_chunk.h"
#include "platform/native/png/png_filter.h"
#include "platform/native/png/png_samples.h"

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// PNG dimensions and chunk lengths are limited to 2^31 - 1.
constexpr uint32_t kPngMax = 0x7FFFFFFF;

struct ThreadCompressor {
    int level = -1;
    libdeflate_compressor* compressor = nullptr;
    ~ThreadCompressor() { libdeflate_free_compressor(compressor); }
};

libdeflate_compressor* CompressorFor(int level)
{
    thread_local ThreadCompressor cached;
    if (cached.compressor == nullptr || cached.level != level) {
        libdeflate_free_compressor(cached.compressor);
        cached.compressor = libdeflate_alloc_compressor(level);
        cached.level = cached.compressor != nullptr ? level : -1;
    }
    return cached.compressor;
}

// Filter byte plus filtered row, for every row: the input of deflate.
std::vector<uint8_t>& FilteredBuffer()
{
    thread_local std::vector<uint8_t> buffer;
    return buffer;
}

void AppendHeader(const PngSource& source, std::vector<uint8_t>& out)
{
    uint8_t ihdr[13];
    StoreBe32(ihdr, source.width);
    StoreBe32(ihdr + 4, source.height);
    static constexpr uint8_t kDepthAndType[4][2] = {{8, 0}, {16, 0}, {8, 2}, {8, 6}};
    ihdr[8] = kDepthAndType[static_cast<int>(source.pixels)][0];
    ihdr[9] = kDepthAndType[static_cast<int>(source.pixels)][1];
    ihdr[10] = 0;  // deflate
    ihdr[11] = 0;  // adaptive filtering
    ihdr[12] = 0;  // not interlaced
    out.insert(out.end(), kSignature, kSignature + sizeof kSignature);
    AppendPngChunk(out, "IHDR", ihdr, sizeof ihdr);
}

void FilterImage(const PngSource& source, const PngWriterOptions& options, size_t rowBytes,
                 uint8_t* filtered)
{
    const PngFilterSet& filters = PngFilters();
    const size_t bpp = PngBytesPerPixel(source.pixels);
    std::vector<uint8_t> rows(4 * rowBytes);
    uint8_t* prev = rows.data();  // zeros: the row above the first
    uint8_t* cur = prev + rowBytes;
    uint8_t* spare = cur + rowBytes;
    uint8_t* trial = spare + rowBytes;
    const uint8_t* in = source.firstRow;
    for (uint32_t r = 0; r < source.height; ++r, in += source.stride) {
        ToPngSamples(source.pixels, in, source.width, cur);
        uint8_t* out = filtered + r * (rowBytes + 1);
        if (options.filters == PngFilterChoice::Paeth) {
            out[0] = static_cast<uint8_t>(PngFilter::Paeth);
            filters.row[4](cur, prev, rowBytes, bpp, out + 1);
        } else {
            uint64_t best = std::numeric_limits<uint64_t>::max();
            for (size_t k = 0; k < kPngFilterCount; ++k) {
                filters.row[k](cur, prev, rowBytes, bpp, trial);
                uint64_t cost = filters.cost(trial, rowBytes);
                if (cost < best) {
                    best = cost;
                    out[0] = static_cast<uint8_t>(k);
                    std::swap(trial, spare);
                }
            }
            std::memcpy(out + 1, spare, rowBytes);
        }
        // The unfiltered row just done is the next row's "above". The old
        // "above" (the zero row at first) becomes the next scratch row.
        std::swap(prev, cur);
    }
}

}  // namespace

bool WritePng(const PngSource& source, const PngWriterOptions& options, std::vector<uint8_t>& out)
{
    if (source.width == 0 || source.height == 0 || source.width > kPngMax ||
        source.height > kPngMax || source.firstRow == nullptr || options.level < 0 ||
        options.level > 12)
        return false;
    const size_t bpp = PngBytesPerPixel(source.pixels);
    if (bpp == 0 || source.width > (std::numeric_limits<size_t>::max() - 1) / bpp)
        return false;
    const size_t rowBytes = source.width * bpp;
    if (source.height > std::numeric_limits<size_t>::max() / (rowBytes + 1))
        return false;
    const size_t filteredSize = (rowBytes + 1) * source.height;

    const size_t start = out.size();
    try {
        std::vector<uint8_t>& filtered = FilteredBuffer();
        if (filtered.size() < filteredSize)
            filtered.resize(filteredSize);
        FilterImage(source, options, rowBytes, filtered.data());

        libdeflate_compressor* compressor = CompressorFor(options.level);
        if (compressor == nullptr)
            return false;
        size_t bound = libdeflate_zlib_compress_bound(compressor, filteredSize);

        // Compressed into a reused buffer, then appended: cheaper than
        // growing `out` by the worst-case bound, which zero-fills it.
        thread_local std::vector<uint8_t> compressed;
        if (compressed.size() < bound)
            compressed.resize(bound);
        size_t written = libdeflate_zlib_compress(compressor, filtered.data(), filteredSize,
                                                  compressed.data(), bound);
        if (written == 0)
            return false;

        AppendHeader(source, out);
        for (size_t at = 0; at < written; at += kPngMax) {
            size_t piece = std::min<size_t>(kPngMax, written - at);
            AppendPngChunk(out, "IDAT", compressed.data() + at, static_cast<uint32_t>(piece));
        }
        AppendPngChunk(out, "IEND", nullptr, 0);
    } catch (const std::bad_alloc&) {
        out.resize(start);
        return false;
    }
    return true;
}
