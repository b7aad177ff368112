// The writer. One pass over a sample of rows picks filters by a guessed
// cost and counts the symbols they would produce; the frame's code is
// built from those counts. The main pass of the match-free coder then
// filters every row five ways, keeps the form the code makes cheapest and
// codes it at once, as a dynamic-Huffman block per band.
//
// Bands (band_map.h) are coded independently, on the worker pool when
// there is one: each starts with a filter that does not look above it and
// ends on a byte boundary, runs never cross into the next band, and the
// frame's Adler-32 is combined from the bands'. The code is the frame's:
// sampled once, its header repeated in every band.
//
// Where the sample shows that matches pay (smooth and rendered frames,
// screens), the frame goes to the matching coder (match_coder.h) or to
// libdeflate instead (coder_choice.h).
#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "platform/png/band_map.h"
#include "platform/png/coder_choice.h"
#include "platform/png/container.h"
#include "platform/png/frame_code.h"
#include "platform/png/kernels.h"
#include "platform/png/match_coder.h"
#include "platform/png/own_inflate.h"
#include "platform/png/png.h"
#include "platform/png/row_filter.h"
#include "platform/png/scratch.h"
#include "platform/png/symbols.h"
#include "platform/png/worker_pool.h"

using namespace pngcore;

namespace {

// Worst case per byte: the longest literal code.
constexpr size_t kMaxBitsPerByte = 14;
// Raw frames beyond this are refused rather than attempted.
constexpr uint64_t kMaxRawBytes = uint64_t{1} << 34;

// Where a frame's bands are and what their coding produced.
struct BandPlan {
    size_t rawRow;  // filtered row bytes
    uint32_t bandRows;
    size_t count;
    std::vector<size_t> slot;  // start of each band's output space, then the end
    std::vector<BandData> out;
    std::vector<uint32_t> adler;
    std::atomic<bool> failed{false};

    BandPlan(uint32_t height, size_t n)
        : rawRow(n + 1), bandRows(BandRows(n + 1)), count(BandCount(height, bandRows)),
          slot(count + 1), out(count), adler(count)
    {
        for (size_t b = 0; b < count; ++b)
            out[b].rows = std::min<uint32_t>(bandRows, height - FirstRow(b));
    }
    uint32_t FirstRow(size_t b) const { return static_cast<uint32_t>(b) * bandRows; }
    size_t RawBytes(size_t b) const { return out[b].rows * rawRow; }
    bool Last(size_t b) const { return b + 1 == count; }
    // Gives every band `slotBytes(its raw bytes)` of output space.
    size_t Place(size_t (*slotBytes)(size_t))
    {
        for (size_t b = 0; b < count; ++b)
            slot[b + 1] = slot[b] + slotBytes(RawBytes(b));
        return slot[count];
    }
    uint32_t FrameAdler() const
    {
        uint32_t frame = adler[0];
        for (size_t b = 1; b < count; ++b)
            frame = Adler32Combine(frame, adler[b], RawBytes(b));
        return frame;
    }
};

// Ends a band that is not the stream's last with an empty stored block
// (the sync flush), which leaves the next band on a byte boundary.
void PutSyncFlush(BitWriter& writer)
{
    writer.Put(0, 3);  // not final, stored
    writer.AlignToByte();
    static constexpr uint8_t kEmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(writer.next, kEmptyStored, 4);
    writer.next += 4;
}

size_t MatchFreeSlotBytes(size_t rawBytes)
{
    // Block header (287 code lengths of at most 14 bits each), the rows,
    // end of block, sync flush and the writer's 8-byte stores.
    return 1024 + rawBytes * kMaxBitsPerByte / 8 + 16 + 8;
}

void EncodeMatchFreeBand(const PngSource& source, const FastKernels& k, size_t n, size_t bpp,
                         const FrameCode& code, const CodeLengths& lengths, uint8_t frameFilter,
                         BandPlan& plan, uint8_t* slots, size_t b)
{
    const RowLease rowLease(n);
    RowBuffers& rows = *rowLease;
    BitWriter writer;
    writer.next = slots + plan.slot[b];
    WriteBlockHeader(lengths, writer, plan.Last(b));
    rows.ClearPrev();
    RunState run;
    uint32_t adler = 1;
    const size_t first = plan.FirstRow(b);
    for (size_t r = first; r < first + plan.out[b].rows; ++r) {
        k.swizzle(SourceRow(source, r), rows.cur(), n, source.pixels);
        const uint8_t* data = FilterBest(k, rows, bpp, FilterPolicy{code.literals, 0, frameFilter},
                                         r == first && r != 0);
        k.encodeBytes(data, n + 1, code, run, writer);
        adler = libdeflate_adler32(adler, data, n + 1);
        rows.Advance();
    }
    BitSink sink{code, writer};
    EmitRun(run.zeros, sink);
    writer.Put(code.endCode, code.endLength);
    if (plan.Last(b))
        writer.AlignToByte();
    else
        PutSyncFlush(writer);
    plan.out[b].data = slots + plan.slot[b];
    plan.out[b].size = static_cast<size_t>(writer.next - plan.out[b].data);
    plan.adler[b] = adler;
}

size_t LibdeflateSlotBytes(size_t rawBytes)
{
    // The stream and the block that closes it, or the band as stored
    // blocks, stay well inside twice the bound.
    return 2 * libdeflate_deflate_compress_bound(nullptr, rawBytes) + 4096;
}

struct Compressor {
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> state{
        libdeflate_alloc_compressor(kLibdeflateLevel), libdeflate_free_compressor};
};

ScratchShelf<Compressor>& Compressors()
{
    static ScratchShelf<Compressor> shelf;
    return shelf;
}

// Stored blocks, none final, for bytes libdeflate would not give as one
// block however small the piece.
uint8_t* PutStored(const uint8_t* raw, size_t size, uint8_t* out)
{
    do {
        const size_t part = std::min<size_t>(size, 0xFFFF);
        const uint8_t head[5] = {0x00, static_cast<uint8_t>(part), static_cast<uint8_t>(part >> 8),
                                 static_cast<uint8_t>(~part), static_cast<uint8_t>(~part >> 8)};
        std::memcpy(out, head, 5);
        std::memcpy(out + 5, raw, part);
        out += 5 + part;
        raw += part;
        size -= part;
    } while (size != 0);
    return out;
}

// Deflates `raw` into `out`; unless `final`, the data ends with no final
// block and on a byte boundary. Returns the end of what it wrote.
// libdeflate writes a stream whose last block is final: that block is
// found by reading the stream back, its flag cleared, and an empty stored
// block put right after its end.
uint8_t* DeflatePiece(const uint8_t* raw, size_t size, bool final, uint8_t* out, uint8_t* end)
{
    size_t got;
    {
        const auto compressor = Compressors().Take();
        if (!compressor->state)
            throw std::bad_alloc();
        got = libdeflate_deflate_compress(compressor->state.get(), raw, size, out,
                                          static_cast<size_t>(end - out));
    }
    if (got == 0)
        throw std::bad_alloc();  // cannot happen with the slot's bound
    if (final)
        return out + got;
    static ScratchShelf<std::vector<uint8_t>> checks;
    const auto checkLease = checks.Take();
    std::vector<uint8_t>& check = *checkLease;
    check.resize(size);
    StreamEnd last;
    if (!InflateStream(out, got, check.data(), size, last))
        return PutStored(raw, size, out);  // not expected; the band stays valid
    out[last.finalBlockBit / 8] &= static_cast<uint8_t>(~(1u << (last.finalBlockBit % 8)));
    // Padding after the end becomes the stored block's three zero bits
    // (not final, stored) and its alignment.
    out[last.endBit / 8] &= static_cast<uint8_t>((1u << (last.endBit % 8)) - 1);
    const size_t stored = (last.endBit + 3 + 7) / 8;
    for (size_t i = last.endBit / 8 + 1; i < stored; ++i)
        out[i] = 0;
    static constexpr uint8_t kEmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(out + stored, kEmptyStored, 4);
    return out + stored + 4;
}

// Band b's rows filtered, filter bytes included, in a buffer of its own for
// the coders that look at the whole band at once. Unfiltered rows (filter
// None) are reordered straight into it.
class FilteredBand {
public:
    FilteredBand(const PngSource& source, const FastKernels& k, size_t n, size_t bpp,
                 const FilterPolicy& policy, bool unfiltered, const BandPlan& plan, size_t b)
        : bytes_(plan.RawBytes(b))
    {
        std::vector<uint8_t>& raw = *lease_;
        if (raw.size() < bytes_)
            raw.resize(bytes_);
        if (unfiltered) {
            for (size_t i = 0; i < plan.out[b].rows; ++i) {
                uint8_t* row = raw.data() + i * (n + 1);
                row[0] = 0;
                k.swizzle(SourceRow(source, plan.FirstRow(b) + i), row + 1, n, source.pixels);
            }
            return;
        }
        const RowLease rowLease(n);
        RowBuffers& rows = *rowLease;
        rows.ClearPrev();
        const size_t first = plan.FirstRow(b);
        for (size_t r = first; r < first + plan.out[b].rows; ++r) {
            k.swizzle(SourceRow(source, r), rows.cur(), n, source.pixels);
            std::memcpy(raw.data() + (r - first) * (n + 1),
                        FilterBest(k, rows, bpp, policy, r == first && r != 0), n + 1);
            rows.Advance();
        }
    }
    const uint8_t* data() const { return lease_->data(); }
    size_t size() const { return bytes_; }

private:
    static ScratchShelf<std::vector<uint8_t>>& Shelf()
    {
        static ScratchShelf<std::vector<uint8_t>> shelf;
        return shelf;
    }
    ScratchShelf<std::vector<uint8_t>>::Lease lease_ = Shelf().Take();
    size_t bytes_;
};

void EncodeLibdeflateBand(const PngSource& source, const FastKernels& k, size_t n, size_t bpp,
                          const FilterPolicy& policy, BandPlan& plan, uint8_t* slots, size_t b)
{
    const FilteredBand raw(source, k, n, bpp, policy, false, plan, b);
    uint8_t* slot = slots + plan.slot[b];
    uint8_t* end = DeflatePiece(raw.data(), raw.size(), plan.Last(b), slot, slots + plan.slot[b + 1]);
    plan.out[b].data = slot;
    plan.out[b].size = static_cast<size_t>(end - slot);
    plan.adler[b] = libdeflate_adler32(1, raw.data(), raw.size());
}

size_t MatchSlotBytes(size_t rawBytes)
{
    return MatchBlockBound(rawBytes) + 8;  // and the sync flush
}

// Parses a band's filtered rows for matches and codes the parse with a
// code of its own.
void EncodeMatchBand(const PngSource& source, const FastKernels& k, size_t n, size_t bpp,
                     const FilterPolicy& policy, const FrameChoice& choice, BandPlan& plan,
                     uint8_t* slots, size_t b)
{
    const FilteredBand raw(source, k, n, bpp, policy, choice.unfiltered, plan, b);
    static ScratchShelf<MatchParse> parses;
    const auto parseLease = parses.Take();
    MatchParse& parse = *parseLease;
    parse.Clear();
    ParseMatches(raw.data(), raw.size(), bpp, n + 1, choice.LiteralBits(), parse, choice.rowDistance);
    BitWriter writer;
    writer.next = slots + plan.slot[b];
    WriteParse(parse, writer, plan.Last(b));
    if (plan.Last(b))
        writer.AlignToByte();
    else
        PutSyncFlush(writer);
    plan.out[b].data = slots + plan.slot[b];
    plan.out[b].size = static_cast<size_t>(writer.next - plan.out[b].data);
    plan.adler[b] = libdeflate_adler32(1, raw.data(), raw.size());
}

// Runs `code(b)` for every band, on the pool when there is one; a band that
// runs out of memory fails the frame.
template <class Code>
bool CodeBands(PngWorkers* workers, BandPlan& plan, Code code)
{
    RunTasks(workers, plan.count, [&](size_t b) {
        try {
            code(b);
        } catch (const std::bad_alloc&) {
            plan.failed.store(true, std::memory_order_relaxed);
        }
    });
    return !plan.failed.load(std::memory_order_relaxed);
}

} // namespace

bool EncodePng(const PngSource& source, std::vector<uint8_t>& out)
{
    return EncodePng(source, out, nullptr);
}

namespace {

class VectorSink final : public PngSink {
public:
    explicit VectorSink(std::vector<uint8_t>& out) : out_(out) {}
    void Expect(size_t bytes) override { out_.reserve(out_.size() + bytes); }
    bool Put(const uint8_t* data, size_t size) override
    {
        out_.insert(out_.end(), data, data + size);
        return true;
    }

private:
    std::vector<uint8_t>& out_;
};

} // namespace

bool EncodePng(const PngSource& source, std::vector<uint8_t>& out, PngWorkers* workers)
{
    const size_t before = out.size();
    VectorSink sink(out);
    if (EncodePng(source, sink, workers))
        return true;
    out.resize(before);
    return false;
}

bool EncodePng(const PngSource& source, PngSink& sink, PngWorkers* workers)
{
    if (source.width == 0 || source.height == 0 || source.width > kMaxChunkLength ||
        source.height > kMaxChunkLength || source.firstRow == nullptr)
        return false;
    const size_t bpp = PngBytesPerPixel(source.pixels);
    if (bpp == 0)
        return false;
    const size_t n = size_t{source.width} * bpp;
    if (uint64_t{source.height} * (n + 1) > kMaxRawBytes)
        return false;

    try {
        const FastKernels& k = ActiveKernels();
        FrameChoice choice;
        ChooseFrameCoder(source, k, n, bpp, choice);
        const FilterPolicy policy{choice.guess, choice.upDiscountPercent};

        // Reused: fresh pages for every frame cost more than coding it.
        static ScratchShelf<std::vector<uint8_t>> slotShelf;
        const auto slotLease = slotShelf.Take();
        std::vector<uint8_t>& slots = *slotLease;
        BandPlan plan(source.height, n);
        // Each band writes into its own slot of the one output buffer.
        const auto slotsFor = [&](size_t (*slotBytes)(size_t)) {
            const size_t size = plan.Place(slotBytes);
            if (slots.size() < size)
                slots.resize(size);
            return slots.data();
        };
        bool coded;
        if (choice.coder == Coder::MatchFree) {
            uint8_t* const base = slotsFor(MatchFreeSlotBytes);
            coded = CodeBands(workers, plan, [&](size_t b) {
                EncodeMatchFreeBand(source, k, n, bpp, choice.code, choice.lengths, choice.frameFilter, plan,
                                    base, b);
            });
        } else if (choice.coder == Coder::Matching) {
            uint8_t* const base = slotsFor(MatchSlotBytes);
            coded = CodeBands(workers, plan, [&](size_t b) {
                EncodeMatchBand(source, k, n, bpp, policy, choice, plan, base, b);
            });
        } else {
            uint8_t* const base = slotsFor(LibdeflateSlotBytes);
            coded = CodeBands(workers, plan, [&](size_t b) {
                EncodeLibdeflateBand(source, k, n, bpp, policy, plan, base, b);
            });
        }
        if (!coded)
            throw std::bad_alloc();
        return PutPngFile(source, plan.out.data(), plan.count, plan.FrameAdler(),
                          choice.coder != Coder::Libdeflate, sink);
    } catch (const std::bad_alloc&) {
        return false;
    }
}
