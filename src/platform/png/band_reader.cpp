// The banded half of the fast reader. A map is trusted only as far as it
// fits the file: one IDAT per band, the first band right after the zlib
// header, the last ending at the Adler-32, each band inflating on its own
// to exactly its rows. Anything else sends the frame to the serial path.
#include <algorithm>
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

// Inflates with libdeflate a band our inflater did not take, to exactly
// `expected` bytes. A band before the last ends on a byte boundary without
// a final block, so a final empty block (fixed Huffman, end of block at
// once) is put after a copy of it. Inflating all of that to its very end
// proves the band's own blocks ended exactly at its last byte: no other
// parse of those 16 bits ends a stream.
bool InflateWithLibdeflate(const uint8_t* data, size_t size, bool last, uint8_t* to, size_t expected)
{
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
    bool ownCoded = false;
    if (!ReadBandMap(map, mapSize, image.height, bands, ownCoded) || bands.size() != idat.size())
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
    std::atomic<bool> failed{false};
    // Bands go in pairs, inflated together, unless that leaves threads idle.
    const size_t threads = workers != nullptr ? workers->Threads() : 1;
    const size_t perTask = threads <= 1 || count >= 4 * threads ? 2 : 1;
    RunTasks(workers, (count + perTask - 1) / perTask, [&](size_t task) {
        const size_t first = task * perTask, end = std::min(first + perTask, count);
        OwnBand jobs[2] = {};
        bool ok[2] = {};
        for (size_t b = first; b < end; ++b) {
            const Band& band = bands[b];
            const bool last = b + 1 == count;
            jobs[b - first] = {idat[b].first + band.offset, idat[b].second - band.offset - (last ? 4 : 0),
                               last, raw + size_t{band.firstRow} * rowStep, size_t{band.rows} * rowStep};
        }
        const bool own[2] = {ownCoded || OwnInflaterFaster(jobs[0].in, jobs[0].inSize, jobs[0].outSize),
                             ownCoded || OwnInflaterFaster(jobs[1].in, jobs[1].inSize, jobs[1].outSize)};
        if (end - first == 2 && own[0] && own[1]) {
            InflateOwnBands(jobs[0], jobs[1], ok);
        } else {
            for (size_t i = 0; i < end - first; ++i) {
                const OwnBand& job = jobs[i];
                ok[i] = own[i] && InflateOwnBand(job.in, job.inSize, job.last, job.out, job.outSize);
            }
        }
        for (size_t b = first; b < end; ++b) {
            const OwnBand& job = jobs[b - first];
            bool good = ok[b - first];
            try {
                good = good || InflateWithLibdeflate(job.in, job.inSize, job.last, job.out, job.outSize);
            } catch (const std::bad_alloc&) {
                good = false;
            }
            if (good)
                adler[b] = libdeflate_adler32(1, job.out, job.outSize);
            const bool wait = b != 0 && job.out[0] > 1;
            waiting[b].store(wait, std::memory_order_relaxed);
            if (good && !wait)
                good = UnfilterRows(image, job.out, bands[b].firstRow, bands[b].rows, zeros.get(), out);
            if (!good)
                failed.store(true, std::memory_order_relaxed);
        }
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
        const uint8_t* above = out.rows.data() + size_t{bands[b].firstRow - 1} * image.stride;
        if (!UnfilterRows(image, raw + size_t{bands[b].firstRow} * rowStep, bands[b].firstRow,
                          bands[b].rows, above, out))
            return false;
    }
    return true;
}

} // namespace pngcore
