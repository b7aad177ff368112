// The fast reader: takes only plain, well-formed PNGs of the layouts the
// codec writes, and leaves every question of damage or unusual content to
// the general reader by answering "not handled".
#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/png/container.h"
#include "platform/png/band_map.h"
#include "platform/png/kernels.h"
#include "platform/png/own_inflate.h"
#include "platform/png/plain_image.h"
#include "platform/png/readers.h"

namespace pngcore {

namespace {

// Decoded frames beyond this go to the general reader.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;

struct Header {
    uint32_t width;
    uint32_t height;
    PngPixels pixels;
    bool palette;
};

bool ReadHeader(const uint8_t* body, Header& h)
{
    h.width = LoadBe32(body);
    h.height = LoadBe32(body + 4);
    const uint8_t depth = body[8];
    const uint8_t colour = body[9];
    // Widths the general reader refuses stay its decision.
    if (h.width == 0 || h.height == 0 || h.width > kMaxWidth ||
        h.height > kMaxChunkLength || body[10] != 0 || body[11] != 0 || body[12] != 0)
        return false;
    h.palette = colour == 3;
    if (depth == 8 && (colour == 0 || colour == 3))
        h.pixels = PngPixels::Index8;
    else if (depth == 16 && colour == 0)
        h.pixels = PngPixels::Gray16;
    else if (depth == 8 && colour == 2)
        h.pixels = PngPixels::Bgr24;
    else if (depth == 8 && colour == 6)
        h.pixels = PngPixels::Bgra32;
    else
        return false;
    return true;
}

bool IsType(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// Walks the chunks: IHDR, PLTE (indexed only, 256 entries), consecutive
// IDATs and IEND, with ancillary chunks anywhere after IHDR; bytes after
// IEND are ignored. Every CRC must match. tRNS changes the pixels, so it
// is declined like any chunk this reader does not know. A band map counts
// only when it is the one map and comes before the image data.
bool WalkChunks(const uint8_t* data, size_t size, Header& header, Chunks& idat,
                std::pair<const uint8_t*, size_t>& map)
{
    bool mapUsable = true;
    size_t pos = 8;
    enum { kWantHeader, kBeforeData, kInData, kAfterData } state = kWantHeader;
    bool havePalette = false;
    while (true) {
        if (size - pos < 12)
            return false;
        const uint32_t length = LoadBe32(data + pos);
        if (length > kMaxChunkLength || length > size - pos - 12)
            return false;
        const uint8_t* type = data + pos + 4;
        const uint8_t* body = type + 4;
        if (libdeflate_crc32(0, type, size_t{length} + 4) != LoadBe32(body + length))
            return false;
        pos += size_t{length} + 12;

        if (state == kWantHeader) {
            if (!IsType(type, "IHDR") || length != 13 || !ReadHeader(body, header))
                return false;
            state = kBeforeData;
        } else if (IsType(type, "PLTE")) {
            if (state != kBeforeData || !header.palette || havePalette || length != 768)
                return false;
            havePalette = true;
        } else if (IsType(type, "IDAT")) {
            if (state == kAfterData || (header.palette && !havePalette))
                return false;
            state = kInData;
            idat.emplace_back(body, length);
        } else if (IsType(type, "IEND")) {
            if (!mapUsable)
                map = {nullptr, 0};
            return state != kBeforeData && length == 0;
        } else if (IsType(type, kBandMapType)) {
            mapUsable = mapUsable && state == kBeforeData && map.first == nullptr;
            map = {body, length};
        } else if (!IsAncillary(type) || IsType(type, "tRNS")) {
            return false;
        }
        if (state == kInData && !IsType(type, "IDAT"))
            state = kAfterData;
    }
}

} // namespace

ScratchShelf<Decompressor>& Decompressors()
{
    static ScratchShelf<Decompressor> shelf;
    return shelf;
}

// Rows are undone where they are written, in the imaging layout. None and
// Up rows look at no pixel to their left and are undone as they are
// swizzled there; runs of the others are swizzled first, then undone in
// place together.
bool UnfilterRows(const PlainImage& image, const uint8_t* raw, uint32_t firstRow, uint32_t count,
                  const uint8_t* prev, DecodedPng& out)
{
    const FastKernels& k = ActiveKernels();
    const size_t n = image.n;
    const size_t rowStep = n + 1;
    uint8_t* const first = out.rows.data() + size_t{firstRow} * image.stride;
    const auto lookLeft = [](uint8_t filter) { return filter != 0 && filter != 2; };
    // Row r's bytes in the output, padding cleared: undone for None and Up,
    // only swizzled for the rest.
    const auto place = [&](size_t r, const uint8_t* above) {
        const uint8_t* from = raw + r * rowStep;
        uint8_t* to = first + r * image.stride;
        std::memset(to + n, 0, image.stride - n);
        if (from[0] == 2)
            k.unfilterUpInto(from + 1, above, to, n, image.pixels);
        else
            k.swizzle(from + 1, to, n, image.pixels);
        return to;
    };
    size_t placed = 0;  // rows before this one are in the output
    for (size_t r = 0; r < count;) {
        const uint8_t filter = raw[r * rowStep];
        if (filter > 4)
            return false;
        if (!lookLeft(filter)) {
            prev = place(r++, prev);
            continue;
        }
        uint8_t filters[kUnfilterBatch];
        uint8_t* rows[kUnfilterBatch];
        size_t batch = 0;
        for (; batch < kUnfilterBatch && r + batch < count; ++batch) {
            filters[batch] = raw[(r + batch) * rowStep];
            if (filters[batch] > 4)
                return false;
            if (!lookLeft(filters[batch]))
                break;
            rows[batch] = r + batch < placed ? first + (r + batch) * image.stride : place(r + batch, nullptr);
        }
        placed = std::max(placed, r + batch);
        size_t done = k.unfilterRows(filters, rows, batch, prev, n, image.bpp);
        if (done == 0) {
            k.unfilterRow(filters[0], rows[0], prev, n, image.bpp);
            done = 1;
        }
        prev = rows[done - 1];
        r += done;
    }
    return true;
}

bool DecodePlainPng(const uint8_t* data, size_t size, DecodedPng& out, PngWorkers* workers)
{
    if (data == nullptr || size < 8 || std::memcmp(data, kPngSignature, 8) != 0)
        return false;
    try {
        Header header{};
        Chunks idat;
        std::pair<const uint8_t*, size_t> map{nullptr, 0};
        if (!WalkChunks(data, size, header, idat, map))
            return false;

        const size_t bpp = PngBytesPerPixel(header.pixels);
        const size_t n = size_t{header.width} * bpp;
        const size_t stride = (n + 3) & ~size_t{3};
        if (stride > 0x7FFFFFFF || uint64_t{stride} * header.height > kMaxImageBytes ||
            uint64_t{n + 1} * header.height > kMaxImageBytes)
            return false;
        const PlainImage image{header.width, header.height, header.pixels, bpp, n, stride};

        // Reused: fresh pages for every frame cost more than decoding it.
        static ScratchShelf<std::vector<uint8_t>> rawShelf;
        const auto rawLease = rawShelf.Take();
        std::vector<uint8_t>& raw = *rawLease;
        const size_t rawSize = (n + 1) * header.height;
        if (raw.size() < rawSize)
            raw.resize(rawSize);
        // Every row is written below, padding included, so a reused image
        // skips a pass over the whole frame.
        out.width = header.width;
        out.height = header.height;
        out.pixels = header.pixels;
        out.stride = stride;
        out.rows.resize(stride * header.height);
        if (map.first != nullptr &&
            DecodeBands(image, idat, map.first, map.second, raw.data(), out, workers))
            return true;

        std::vector<uint8_t> joined;
        const uint8_t* zlib = idat[0].first;
        size_t zlibSize = idat[0].second;
        if (idat.size() > 1) {
            for (const auto& [body, length] : idat)
                joined.insert(joined.end(), body, body + length);
            zlib = joined.data();
            zlibSize = joined.size();
        }
        // A frame of one band as our writer codes it; the zlib header
        // (deflate, no dictionary) and the Adler-32 are checked here.
        const bool own = zlibSize >= 6 && ZlibHeaderOk(zlib) &&
                         OwnInflaterFaster(zlib + 2, zlibSize - 6, rawSize) &&
                         InflateOwnBand(zlib + 2, zlibSize - 6, true, raw.data(), rawSize);
        if (own && libdeflate_adler32(1, raw.data(), rawSize) != LoadBe32(zlib + zlibSize - 4))
            return false;
        if (!own) {
            const auto decompressor = Decompressors().Take();
            libdeflate_decompressor* d = decompressor->state.get();
            size_t consumed = 0;
            if (d == nullptr ||
                libdeflate_zlib_decompress_ex(d, zlib, zlibSize, raw.data(), rawSize, &consumed,
                                              nullptr) != LIBDEFLATE_SUCCESS ||
                consumed != zlibSize)
                return false;
        }
        std::unique_ptr<uint8_t[]> zeros(new uint8_t[n]());
        return UnfilterRows(image, raw.data(), 0, header.height, zeros.get(), out);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace pngcore
