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
// screens), the frame goes to the matching coder (match_coder.h) instead,
// and where even that loses clearly to libdeflate's search, to libdeflate.
#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "platform/png/band_map.h"
#include "platform/png/container.h"
#include "platform/png/frame_code.h"
#include "platform/png/kernels.h"
#include "platform/png/match_coder.h"
#include "platform/png/own_inflate.h"
#include "platform/png/png.h"
#include "platform/png/scratch.h"
#include "platform/png/symbols.h"
#include "platform/png/worker_pool.h"

using namespace pngcore;

namespace {

constexpr size_t kSampleRows = 24;
constexpr size_t kSampleGroupRows = 4;
// The match-free writer runs several times faster than the matching one,
// so it keeps frames where matches save less than this share.
constexpr double kMatchGain = 0.04;
// Worst case per byte: the longest literal code.
constexpr size_t kMaxBitsPerByte = 14;
// libdeflate takes the frame when the best of our estimates for the sample
// is this much larger than libdeflate's own try on the same bytes.
constexpr double kFallbackRatio = 1.06;
constexpr int kTrialLevel = 1;
// On the demo clip (gradients, grain, text) level 4 encodes twice as fast as
// level 6 for 3% more bytes, still below ffmpeg's paeth PNGs.
constexpr int kFallbackLevel = 4;
// Raw frames beyond this are refused rather than attempted.
constexpr uint64_t kMaxRawBytes = uint64_t{1} << 34;

// Row buffers with the padding the kernels expect: two raw rows and the
// five filtered forms, each filtered form with its filter byte in front.
class RowBuffers {
public:
    explicit RowBuffers(size_t n) : stride_(kRowPad + n + 1 + kRowPad)
    {
        storage_.reset(new uint8_t[stride_ * (2 + kFilterCount)]());
        prev_ = storage_.get() + kRowPad;
        cur_ = prev_ + stride_;
        for (size_t f = 0; f < kFilterCount; ++f)
            filtered_[f] = storage_.get() + (2 + f) * stride_ + kRowPad + 1;
        n_ = n;
    }
    uint8_t* prev() { return prev_; }
    uint8_t* cur() { return cur_; }
    uint8_t* const* filtered() { return filtered_; }
    void Advance() { std::swap(prev_, cur_); }
    void ClearPrev() { std::memset(prev_, 0, n_); }

private:
    size_t stride_;
    size_t n_ = 0;
    std::unique_ptr<uint8_t[]> storage_;
    uint8_t* prev_;
    uint8_t* cur_;
    uint8_t* filtered_[kFilterCount];
};

const uint8_t* SourceRow(const PngSource& source, size_t r)
{
    return source.firstRow + static_cast<ptrdiff_t>(r) * source.stride;
}

size_t Cheapest(const uint64_t cost[kFilterCount])
{
    size_t best = 0;
    for (size_t f = 1; f < kFilterCount; ++f) {
        if (cost[f] < cost[best])
            best = f;
    }
    return best;
}

// Filters row r against the raw row in prev and returns the chosen form,
// filter byte first (n + 1 bytes). A band's first row may only use None or
// Sub, which do not read the row above.
uint8_t* FilterBest(const FastKernels& k, RowBuffers& rows, size_t n, size_t bpp,
                    const LiteralTables& costs, bool bandStart = false)
{
    // A row like the one above (screens, flat areas) is all zeros under
    // Up, which nothing beats: skip trying the five filters.
    if (!bandStart && std::memcmp(rows.cur(), rows.prev(), n) == 0) {
        uint8_t* up = rows.filtered()[2];
        std::memset(up, 0, n);
        up[-1] = 2;
        return up - 1;
    }
    uint64_t cost[kFilterCount];
    k.filterRow(rows.cur(), rows.prev(), n, bpp, costs, rows.filtered(), cost);
    const size_t f = bandStart ? (cost[1] < cost[0] ? 1 : 0) : Cheapest(cost);
    uint8_t* data = rows.filtered()[f] - 1;
    data[0] = static_cast<uint8_t>(f);
    return data;
}

struct CountSink {
    SymbolCounts& counts;
    void Literal(uint8_t byte) { ++counts.litlen[byte]; }
    void Match(uint32_t length) { ++counts.litlen[LengthSymbol(length)]; }
    bool HasPiece(const RunPiece&) const { return true; }
};

// Counts symbols of groups of consecutive rows spread over the frame
// (consecutive, so that repeats a row apart show), and keeps their filtered
// bytes. Returns the rows per group; a frame of few rows is one group.
size_t SampleRows(const PngSource& source, const FastKernels& k, RowBuffers& rows, size_t n,
                  size_t bpp, SymbolCounts& counts, std::vector<uint8_t>& sample)
{
    LiteralTables guess;
    FillGuessedCosts(guess);
    const size_t count = std::min<size_t>(source.height, kSampleRows);
    const size_t groupRows = count < kSampleRows ? count : kSampleGroupRows;
    const size_t groups = count / groupRows;
    sample.reserve(count * (n + 1));
    CountSink sink{counts};
    for (size_t i = 0; i < count; ++i) {
        const size_t r = (i / groupRows) * source.height / groups + i % groupRows;
        if (r == 0)
            rows.ClearPrev();
        else
            k.swizzle(SourceRow(source, r - 1), rows.prev(), n, source.pixels);
        k.swizzle(SourceRow(source, r), rows.cur(), n, source.pixels);
        const uint8_t* data = FilterBest(k, rows, n, bpp, guess);
        RunState run;
        EncodeBytesScalar(data, n + 1, run, sink);
        EmitRun(run.zeros, sink);
        sample.insert(sample.end(), data, data + n + 1);
    }
    counts.litlen[kEndOfBlock] = 1;
    return groupRows;
}

uint64_t EstimatedBits(const SymbolCounts& counts, const CodeLengths& lengths)
{
    uint64_t bits = 0;
    for (unsigned s = 0; s < kLitLenSymbols; ++s)
        bits += counts.litlen[s] * lengths.litlen[s];
    for (const RunPiece& piece : kRunPieces)
        bits += counts.litlen[piece.symbol] * (piece.extraBits + 1u);
    return bits;
}

// Bytes of the sample deflated by libdeflate at its trial level.
size_t TrialDeflate(const std::vector<uint8_t>& sample)
{
    struct Trial {
        std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> state{
            libdeflate_alloc_compressor(kTrialLevel), libdeflate_free_compressor};
        std::vector<uint8_t> out;
    };
    static ScratchShelf<Trial> shelf;
    const auto trial = shelf.Take();
    if (!trial->state)
        throw std::bad_alloc();
    trial->out.resize(libdeflate_deflate_compress_bound(trial->state.get(), sample.size()));
    const size_t size = libdeflate_deflate_compress(trial->state.get(), sample.data(), sample.size(),
                                                    trial->out.data(), trial->out.size());
    return size != 0 ? size : SIZE_MAX;
}

// Bits the matching path would take for every other group of the sample
// (half the time, nearly the same verdict), each group parsed on its own
// as bands are. Comparable with estimates for the whole sample.
uint64_t MatchBits(const std::vector<uint8_t>& sample, size_t groupBytes, size_t bpp, size_t rowBytes,
                   const uint8_t* literalBits)
{
    static ScratchShelf<MatchParse> parses;
    const auto parseLease = parses.Take();
    MatchParse& parse = *parseLease;
    parse.Clear();
    size_t parsed = 0;
    for (size_t at = 0; at < sample.size(); at += 2 * groupBytes) {
        parsed += std::min(groupBytes, sample.size() - at);
        ParseMatches(sample.data() + at, std::min(groupBytes, sample.size() - at), bpp, rowBytes,
                     literalBits, parse);
    }
    return static_cast<uint64_t>(static_cast<double>(CodedBits(parse)) *
                                 static_cast<double>(sample.size()) / static_cast<double>(parsed));
}

enum class Coder { MatchFree, Matching, Libdeflate };

// The match-free writer unless matches pay clearly; libdeflate only where
// its deeper search beats the matching path's estimate clearly too.
Coder ChooseCoder(const std::vector<uint8_t>& sample, size_t groupRows, size_t n, size_t bpp,
                  uint64_t freeBits, const uint8_t* literalBits)
{
    // Where libdeflate's quick try does not beat the match-free estimate
    // by the gain either, repeats are too few to pay (grain, noise): the
    // sample is not parsed at all.
    const double trial = static_cast<double>(TrialDeflate(sample));
    if (trial * 8 >= (1 - kMatchGain) * static_cast<double>(freeBits))
        return Coder::MatchFree;
    const uint64_t matchBits = MatchBits(sample, groupRows * (n + 1), bpp, n + 1, literalBits);
    const double best = static_cast<double>(std::min(freeBits, matchBits)) / 8;
    if (trial * kFallbackRatio < best)
        return Coder::Libdeflate;
    if (static_cast<double>(matchBits) < (1 - kMatchGain) * static_cast<double>(freeBits))
        return Coder::Matching;
    return Coder::MatchFree;
}

// Row buffers, kept for the next band of the same row size.
struct RowScratch {
    std::unique_ptr<RowBuffers> rows;
    size_t n = 0;
};

class RowLease {
public:
    explicit RowLease(size_t n)
    {
        RowScratch& scratch = *lease_;
        if (!scratch.rows || scratch.n != n) {
            scratch.rows.reset();
            scratch.rows = std::make_unique<RowBuffers>(n);
            scratch.n = n;
        }
    }
    RowBuffers& operator*() const { return *lease_->rows; }

private:
    static ScratchShelf<RowScratch>& Shelf()
    {
        static ScratchShelf<RowScratch> shelf;
        return shelf;
    }
    ScratchShelf<RowScratch>::Lease lease_ = Shelf().Take();
};

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
                         const FrameCode& code, const CodeLengths& lengths, BandPlan& plan,
                         uint8_t* slots, size_t b)
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
        const uint8_t* data = FilterBest(k, rows, n, bpp, code.literals, r == first && r != 0);
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
        libdeflate_alloc_compressor(kFallbackLevel), libdeflate_free_compressor};
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
// the coders that look at the whole band at once.
class FilteredBand {
public:
    FilteredBand(const PngSource& source, const FastKernels& k, size_t n, size_t bpp,
                 const LiteralTables& costs, const BandPlan& plan, size_t b)
        : bytes_(plan.RawBytes(b))
    {
        std::vector<uint8_t>& raw = *lease_;
        if (raw.size() < bytes_)
            raw.resize(bytes_);
        const RowLease rowLease(n);
        RowBuffers& rows = *rowLease;
        rows.ClearPrev();
        const size_t first = plan.FirstRow(b);
        for (size_t r = first; r < first + plan.out[b].rows; ++r) {
            k.swizzle(SourceRow(source, r), rows.cur(), n, source.pixels);
            std::memcpy(raw.data() + (r - first) * (n + 1),
                        FilterBest(k, rows, n, bpp, costs, r == first && r != 0), n + 1);
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
                          const LiteralTables& costs, BandPlan& plan, uint8_t* slots, size_t b)
{
    const FilteredBand raw(source, k, n, bpp, costs, plan, b);
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
                     const LiteralTables& costs, const uint8_t* literalBits, BandPlan& plan,
                     uint8_t* slots, size_t b)
{
    const FilteredBand raw(source, k, n, bpp, costs, plan, b);
    static ScratchShelf<MatchParse> parses;
    const auto parseLease = parses.Take();
    MatchParse& parse = *parseLease;
    parse.Clear();
    ParseMatches(raw.data(), raw.size(), bpp, n + 1, literalBits, parse);
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

bool EncodePng(const PngSource& source, std::vector<uint8_t>& out, PngWorkers* workers)
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

    const size_t before = out.size();
    try {
        const FastKernels& k = ActiveKernels();
        SymbolCounts counts;
        std::vector<uint8_t> sample;
        const size_t groupRows = SampleRows(source, k, *RowLease(n), n, bpp, counts, sample);

        // Reused: fresh pages for every frame cost more than coding it.
        static ScratchShelf<std::vector<uint8_t>> slotShelf;
        const auto slotLease = slotShelf.Take();
        std::vector<uint8_t>& slots = *slotLease;
        BandPlan plan(source.height, n);
        FrameCode code;
        CodeLengths lengths;
        LiteralTables guess;
        FillGuessedCosts(guess);
        const bool shaped = BuildFrameCode(counts, code, lengths);
        // The frame code's literal lengths are the best guess of what a
        // literal costs before any band is parsed.
        const uint8_t* literalBits = shaped ? code.literals.length : guess.length;
        const uint64_t freeBits = shaped ? EstimatedBits(counts, lengths) : UINT64_MAX;
        const Coder coder = ChooseCoder(sample, groupRows, n, bpp, freeBits, literalBits);
        // Each band writes into its own slot of the one output buffer.
        const auto slotsFor = [&](size_t (*slotBytes)(size_t)) {
            const size_t size = plan.Place(slotBytes);
            if (slots.size() < size)
                slots.resize(size);
            return slots.data();
        };
        bool coded;
        if (coder == Coder::MatchFree) {
            uint8_t* const base = slotsFor(MatchFreeSlotBytes);
            coded = CodeBands(workers, plan, [&](size_t b) {
                EncodeMatchFreeBand(source, k, n, bpp, code, lengths, plan, base, b);
            });
        } else if (coder == Coder::Matching) {
            uint8_t* const base = slotsFor(MatchSlotBytes);
            coded = CodeBands(workers, plan, [&](size_t b) {
                EncodeMatchBand(source, k, n, bpp, guess, literalBits, plan, base, b);
            });
        } else {
            uint8_t* const base = slotsFor(LibdeflateSlotBytes);
            coded = CodeBands(workers, plan, [&](size_t b) {
                EncodeLibdeflateBand(source, k, n, bpp, guess, plan, base, b);
            });
        }
        if (!coded)
            throw std::bad_alloc();
        AppendPngFile(source, plan.out.data(), plan.count, plan.FrameAdler(), out);
        return true;
    } catch (const std::bad_alloc&) {
        out.resize(before);
        return false;
    }
}
