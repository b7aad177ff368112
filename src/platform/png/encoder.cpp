// The match-free writer. One pass over a sample of rows picks filters by a
// guessed cost and counts the symbols they would produce; the frame's code
// is built from those counts. The main pass then filters every row five
// ways, keeps the form the code makes cheapest and codes it at once, as a
// single dynamic-Huffman block.
//
// Where the sample shows that real match search would win clearly (flat
// areas, text), the frame goes to libdeflate instead.
#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/png/container.h"
#include "platform/png/frame_code.h"
#include "platform/png/kernels.h"
#include "platform/png/png.h"
#include "platform/png/symbols.h"

using namespace pngcore;

namespace {

constexpr size_t kSampleRows = 24;
// Worst case per byte: the longest literal code.
constexpr size_t kMaxBitsPerByte = 14;
// libdeflate takes the frame when the sample's match-free estimate is this
// much larger than libdeflate's own try on the same bytes.
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
// filter byte first (n + 1 bytes).
uint8_t* FilterBest(const FastKernels& k, RowBuffers& rows, size_t n, size_t bpp,
                    const LiteralTables& costs)
{
    uint64_t cost[kFilterCount];
    k.filterRow(rows.cur(), rows.prev(), n, bpp, costs, rows.filtered(), cost);
    const size_t f = Cheapest(cost);
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

// Counts symbols of a spread of rows and keeps their filtered bytes.
void SampleRows(const PngSource& source, const FastKernels& k, RowBuffers& rows, size_t n,
                size_t bpp, SymbolCounts& counts, std::vector<uint8_t>& sample)
{
    LiteralTables guess;
    FillGuessedCosts(guess);
    const size_t count = std::min<size_t>(source.height, kSampleRows);
    sample.reserve(count * (n + 1));
    CountSink sink{counts};
    for (size_t i = 0; i < count; ++i) {
        const size_t r = i * source.height / count;
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

bool MatchesWinClearly(const std::vector<uint8_t>& sample, uint64_t estimatedBits)
{
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> c(
        libdeflate_alloc_compressor(kTrialLevel), libdeflate_free_compressor);
    if (!c)
        throw std::bad_alloc();
    std::vector<uint8_t> trial(libdeflate_deflate_compress_bound(c.get(), sample.size()));
    const size_t size =
        libdeflate_deflate_compress(c.get(), sample.data(), sample.size(), trial.data(), trial.size());
    return size != 0 && static_cast<double>(estimatedBits) / 8 > kFallbackRatio * static_cast<double>(size);
}

void EncodeMatchFree(const PngSource& source, const FastKernels& k, RowBuffers& rows, size_t n,
                     size_t bpp, const FrameCode& code, const CodeLengths& lengths,
                     std::vector<uint8_t>& out)
{
    // Kept per thread: fresh pages for every frame cost more than coding it.
    thread_local std::vector<uint8_t> zlib;
    // zlib header, block header (287 code lengths of at most 14 bits each),
    // the rows, end of block, Adler-32 and the writer's 8-byte stores.
    const size_t bound = 2 + 1024 + source.height * (n + 1) * kMaxBitsPerByte / 8 + 16 + 8;
    if (zlib.size() < bound)
        zlib.resize(bound);
    zlib[0] = 0x78;  // deflate, 32 KiB window
    zlib[1] = 0x01;  // no dictionary, check bits
    BitWriter writer;
    writer.next = zlib.data() + 2;
    WriteBlockHeader(lengths, writer);

    rows.ClearPrev();
    RunState run;
    uint32_t adler = 1;
    for (size_t r = 0; r < source.height; ++r) {
        k.swizzle(SourceRow(source, r), rows.cur(), n, source.pixels);
        const uint8_t* data = FilterBest(k, rows, n, bpp, code.literals);
        k.encodeBytes(data, n + 1, code, run, writer);
        adler = libdeflate_adler32(adler, data, n + 1);
        rows.Advance();
    }
    BitSink sink{code, writer};
    EmitRun(run.zeros, sink);
    writer.Put(code.endCode, code.endLength);
    writer.AlignToByte();
    StoreBe32(writer.next, adler);
    writer.next += 4;
    AppendPngFile(source, zlib.data(), static_cast<size_t>(writer.next - zlib.data()), out);
}

void EncodeWithLibdeflate(const PngSource& source, const FastKernels& k, RowBuffers& rows,
                          size_t n, size_t bpp, const LiteralTables& costs,
                          std::vector<uint8_t>& out)
{
    const size_t rawSize = source.height * (n + 1);
    std::unique_ptr<uint8_t[]> raw(new uint8_t[rawSize]);
    rows.ClearPrev();
    for (size_t r = 0; r < source.height; ++r) {
        k.swizzle(SourceRow(source, r), rows.cur(), n, source.pixels);
        std::memcpy(raw.get() + r * (n + 1), FilterBest(k, rows, n, bpp, costs), n + 1);
        rows.Advance();
    }
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> c(
        libdeflate_alloc_compressor(kFallbackLevel), libdeflate_free_compressor);
    if (!c)
        throw std::bad_alloc();
    const size_t bound = libdeflate_zlib_compress_bound(c.get(), rawSize);
    std::unique_ptr<uint8_t[]> zlib(new uint8_t[bound]);
    const size_t size = libdeflate_zlib_compress(c.get(), raw.get(), rawSize, zlib.get(), bound);
    if (size == 0)
        throw std::bad_alloc();  // cannot happen with a bound-sized buffer
    AppendPngFile(source, zlib.get(), size, out);
}

} // namespace

bool EncodePng(const PngSource& source, std::vector<uint8_t>& out)
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
        RowBuffers rows(n);
        SymbolCounts counts;
        std::vector<uint8_t> sample;
        SampleRows(source, k, rows, n, bpp, counts, sample);

        FrameCode code;
        CodeLengths lengths;
        if (BuildFrameCode(counts, code, lengths) &&
            !MatchesWinClearly(sample, EstimatedBits(counts, lengths))) {
            EncodeMatchFree(source, k, rows, n, bpp, code, lengths, out);
        } else {
            LiteralTables guess;
            FillGuessedCosts(guess);
            EncodeWithLibdeflate(source, k, rows, n, bpp, guess, out);
        }
        return true;
    } catch (const std::bad_alloc&) {
        out.resize(before);
        return false;
    }
}
