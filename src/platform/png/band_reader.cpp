// The banded half of the fast reader. A map is trusted only as far as it
// fits the file: one IDAT per band, the first band right after the zlib
// header, the last ending at the Adler-32, each band inflating on its own
// to exactly its rows. Anything else sends the frame to the serial path.
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "platform/png/band_map.h"
#include "platform/png/container.h"
#include "platform/png/own_inflate.h"
#include "platform/png/plain_image.h"
#include "platform/png/worker_pool.h"

namespace pngcore {

namespace {

// Inflates one band's data to exactly `expected` bytes. A band before the
// last ends on a byte boundary without a final block, so a final empty
// block (fixed Huffman, end of block at once) is put after a copy of it.
// Inflating all of that to its very end proves the band's own blocks ended
// exactly at its last byte: no other parse of those 16 bits ends a stream.
//
// Our own match-free writer's shape is tried first; what that reader
// declines may still be valid. A frame's bands share one coder, so after one band is
// declined the others go straight to libdeflate.
bool InflateBand(const uint8_t* data, size_t size, bool last, uint8_t* to, size_t expected,
                 std::atomic<bool>& notOwn)
{
    if (!notOwn.load(std::memory_order_relaxed) && LiteralsAndRuns(data, size)) {
        if (InflateOwnBand(data, size, last, to, expected))
            return true;
        notOwn.store(true, std::memory_order_relaxed);
    }
    const auto decompressor = Decompressors().Take();
    libdeflate_decompressor* d = decompressor->state.get();
    if (d == nullptr)
        return false;
    const uint8_t* in = data;
    size_t inSize = size;
    static ScratchShelf<std::vector<uint8_t>> copies;
    const auto copyLease = copies.Take();
    std::vector<uint8_t>& copy = *copyLease;
    if (!last) {
        copy.assign(data, data + size);
        copy.push_back(0x03);
        copy.push_back(0x00);
        in = copy.data();
        inSize = copy.size();
    }
    size_t consumed = 0, produced = 0;
    return libdeflate_deflate_decompress_ex(d, in, inSize, to, expected, &consumed, &produced) ==
               LIBDEFLATE_SUCCESS &&
           consumed == inSize && produced == expected;
}

} // namespace

bool DecodeBands(const PlainImage& image, const Chunks& idat, const uint8_t* map, size_t mapSize,
                 uint8_t* raw, DecodedPng& out, PngWorkers* workers)
{
    std::vector<Band> bands;
    if (!ReadBandMap(map, mapSize, image.height, bands) || bands.size() != idat.size())
        return false;
    const size_t count = bands.size();
    for (size_t b = 0; b < count; ++b) {
        if (bands[b].chunk != b || bands[b].offset != (b == 0 ? 2 : 0))
            return false;
    }
    if (idat[0].second < 2 || !ZlibHeaderOk(idat[0].first) ||
        idat[count - 1].second < bands[count - 1].offset + 4)
        return false;

    const size_t rowStep = image.n + 1;
    std::unique_ptr<uint8_t[]> zeros(new uint8_t[image.n]());
    std::vector<uint32_t> adler(count);
    // Bands whose first row looks above it wait for the band before.
    std::unique_ptr<std::atomic<bool>[]> waiting(new std::atomic<bool>[count]);
    std::atomic<bool> failed{false}, notOwn{false};
    RunTasks(workers, count, [&](size_t b) {
        const Band& band = bands[b];
        const bool last = b + 1 == count;
        uint8_t* to = raw + size_t{band.firstRow} * rowStep;
        const size_t bytes = size_t{band.rows} * rowStep;
        const size_t size = idat[b].second - band.offset - (last ? 4 : 0);
        bool ok;
        try {
            ok = InflateBand(idat[b].first + band.offset, size, last, to, bytes, notOwn);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        if (ok)
            adler[b] = libdeflate_adler32(1, to, bytes);
        const bool wait = b != 0 && to[0] > 1;
        waiting[b].store(wait, std::memory_order_relaxed);
        if (ok && !wait)
            ok = UnfilterRows(image, to, band.firstRow, band.rows, zeros.get(), out);
        if (!ok)
            failed.store(true, std::memory_order_relaxed);
    });
    if (failed.load(std::memory_order_relaxed))
        return false;

    uint32_t whole = adler[0];
    for (size_t b = 1; b < count; ++b)
        whole = Adler32Combine(whole, adler[b], size_t{bands[b].rows} * rowStep);
    if (whole != LoadBe32(idat[count - 1].first + idat[count - 1].second - 4))
        return false;
    for (size_t b = 1; b < count; ++b) {
        if (!waiting[b].load(std::memory_order_relaxed))
            continue;
        const uint8_t* above = raw + (size_t{bands[b].firstRow} * rowStep) - image.n;
        if (!UnfilterRows(image, raw + size_t{bands[b].firstRow} * rowStep, bands[b].firstRow,
                          bands[b].rows, above, out))
            return false;
    }
    return true;
}

} // namespace pngcore
