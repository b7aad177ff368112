// The sample is 24 rows in six groups of four. Three checks, cheapest
// first:
//  - libdeflate's quickest level on two groups: where even its search
//    cannot beat the match-free estimate of the same rows, repeats are too
//    few to pay (grain, noise), and nothing more is tried;
//  - our match finder and libdeflate at a middling level on the same three
//    groups, each group coded on its own as bands are;
//  - libdeflate takes the frame only where it saves clearly more than our
//    finder, which codes several times faster; our finder only where it
//    beats the match-free coder at all, since four-row groups understate
//    the repeats it finds in whole bands.
#include "platform/png/coder_choice.h"

#include <libdeflate.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>

#include "platform/png/match_coder.h"
#include "platform/png/row_filter.h"
#include "platform/png/scratch.h"
#include "platform/png/symbols.h"

namespace pngcore {

namespace {

constexpr size_t kSampleRows = 24;
constexpr size_t kGroupRows = 4;
// The first and fourth of six groups: half a frame apart. The second and
// fifth misjudged a fractal whose detail lies in bands.
constexpr size_t kQuickGroups[] = {0, 3};
constexpr int kQuickLevel = 1;
constexpr int kTrialLevel = 4;
// The match-free coder runs several times faster than the others, so it
// keeps frames where libdeflate's quick try saves less than this.
constexpr double kQuickGain = 0.04;
// Our finder codes about twice as fast as libdeflate at its level, so
// libdeflate must save this share to take a frame.
constexpr double kLibdeflateGain = 0.04;
// libdeflate coding the first trial group in this share of our finder's
// bits or more is not tried on the others.
constexpr double kHopelessShare = 0.98;
// Rows tried unfiltered, and what they must save against filtered ones.
constexpr size_t kUnfilteredTrialRows = 16;
constexpr double kUnfilteredGain = 0.03;
// What our finder must save against the match-free estimate.
constexpr double kMatchGain = 0.01;
// Up discounts, in percent. Photographs that our finder codes take a
// larger one than screens, whose repeats run along the rows: on smooth
// photographs 20% gave slightly fewer bytes than 10% and frames a quarter
// quicker to read, while screens grew by 1.5%. 25% trades 1.9% more bytes
// for 8% fewer instructions to read them, as Up rows replace Paeth rows
// that must be undone a pixel at a time.
constexpr unsigned kMatchingPhotoDiscount = 25;
constexpr unsigned kMatchingDiscount = 10;
constexpr unsigned kLibdeflateDiscount = 25;
// Sampled bytes our finder codes in more bits than this, on average, are
// photographic rather than screen-like.
constexpr double kPhotoBitsPerByte = 1.0;
// Share of the sampled rows, in percent, that must take one filter for the
// match-free coder to give it to every row.
constexpr size_t kFrameFilterPercent = 80;

struct CountSink {
    SymbolCounts& counts;
    void Literal(uint8_t byte) { ++counts.litlen[byte]; }
    void Match(uint32_t length) { ++counts.litlen[LengthSymbol(length)]; }
    bool HasPiece(const RunPiece&) const { return true; }
};

struct Sample {
    SymbolCounts counts;       // every group
    SymbolCounts quickCounts;  // the quick try's groups
    std::vector<uint8_t> bytes;  // filtered rows, filter byte first
    size_t rows = 0;
    size_t rowsWith[kFilterCount] = {};  // rows that took each filter
    size_t groupBytes = 0;
    size_t groups = 0;
};

void TakeSample(const PngSource& source, const FastKernels& k, size_t n, size_t bpp,
                const LiteralTables& guess, Sample& sample)
{
    const size_t count = std::min<size_t>(source.height, kSampleRows);
    // A frame of few rows is one group.
    const size_t groupRows = count < kSampleRows ? count : kGroupRows;
    sample.groups = count / groupRows;
    sample.groupBytes = groupRows * (n + 1);
    sample.bytes.reserve(count * (n + 1));
    const RowLease lease(n);
    RowBuffers& rows = *lease;
    const FilterPolicy policy{guess};
    for (size_t i = 0; i < count; ++i) {
        const size_t group = i / groupRows;
        const size_t r = group * source.height / sample.groups + i % groupRows;
        if (r == 0)
            rows.ClearPrev();
        else
            k.swizzle(SourceRow(source, r - 1), rows.prev(), n, source.pixels);
        k.swizzle(SourceRow(source, r), rows.cur(), n, source.pixels);
        const uint8_t* data = FilterBest(k, rows, bpp, policy, false);
        ++sample.rowsWith[data[0]];
        ++sample.rows;
        // The quick try's rows are counted apart and added to the rest after.
        const bool quick = sample.groups > 1 && std::count(std::begin(kQuickGroups),
                                                           std::end(kQuickGroups), group) != 0;
        CountSink sink{quick ? sample.quickCounts : sample.counts};
        RunState run;
        EncodeBytesScalar(data, n + 1, run, sink);
        EmitRun(run.zeros, sink);
        sample.bytes.insert(sample.bytes.end(), data, data + n + 1);
    }
    for (unsigned s = 0; s < kLitLenSymbols; ++s)
        sample.counts.litlen[s] += sample.quickCounts.litlen[s];
    sample.counts.litlen[kEndOfBlock] = 1;
    sample.quickCounts.litlen[kEndOfBlock] = 1;
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

// Bits of `size` bytes deflated by libdeflate at `level`.
template <int level>
uint64_t DeflatedBits(const uint8_t* data, size_t size)
{
    struct Trial {
        std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> state{
            libdeflate_alloc_compressor(level), libdeflate_free_compressor};
        std::vector<uint8_t> out;
    };
    static ScratchShelf<Trial> shelf;
    const auto trial = shelf.Take();
    if (!trial->state)
        throw std::bad_alloc();
    trial->out.resize(libdeflate_deflate_compress_bound(trial->state.get(), size));
    const size_t got = libdeflate_deflate_compress(trial->state.get(), data, size,
                                                   trial->out.data(), trial->out.size());
    return got != 0 ? uint64_t{got} * 8 : UINT64_MAX;
}

struct Decision {
    Coder coder;
    unsigned upDiscountPercent;
    bool rowDistance = true;
};

Decision Decide(const Sample& sample, size_t n, size_t bpp, const CodeLengths* lengths,
                const uint8_t* literalBits)
{
    const auto group = [&](size_t g) { return sample.bytes.data() + g * sample.groupBytes; };
    uint64_t freeBits = UINT64_MAX;
    if (lengths != nullptr) {
        freeBits = EstimatedBits(sample.counts, *lengths);
        if (sample.groups > 1) {
            uint64_t quickBits = 0;
            for (size_t g : kQuickGroups)
                quickBits += DeflatedBits<kQuickLevel>(group(g), sample.groupBytes);
            const double quickFree = static_cast<double>(EstimatedBits(sample.quickCounts, *lengths));
            if (static_cast<double>(quickBits) >= (1 - kQuickGain) * quickFree)
                return {Coder::MatchFree, 0};
        }
    }
    // Every other group, each on its own as bands are coded; scaled to the
    // whole sample to compare with the match-free estimate.
    static ScratchShelf<MatchParse> parses;
    const auto parseLease = parses.Take();
    MatchParse& parse = *parseLease;
    parse.Clear();
    uint64_t deflateBits = 0;
    size_t tried = 0;
    bool deflateTried = true;
    for (size_t g = 0; g < sample.groups; g += 2) {
        ParseMatches(group(g), sample.groupBytes, bpp, n + 1, literalBits, parse);
        if (deflateTried)
            deflateBits += DeflatedBits<kTrialLevel>(group(g), sample.groupBytes);
        // Where libdeflate barely wins the first group, it will not win the
        // frame by the margin it needs: the other groups are spared.
        if (g == 0 && static_cast<double>(deflateBits) >= kHopelessShare * static_cast<double>(CodedBits(parse)))
            deflateTried = false;
        ++tried;
    }
    const double scale = static_cast<double>(sample.groups) / static_cast<double>(tried);
    const double matchBits = static_cast<double>(CodedBits(parse)) * scale;
    const double free = static_cast<double>(freeBits);
    if (deflateTried &&
        static_cast<double>(deflateBits) * scale < (1 - kLibdeflateGain) * std::min(matchBits, free))
        return {Coder::Libdeflate, kLibdeflateDiscount};
    if (matchBits >= (1 - kMatchGain) * free)
        return {Coder::MatchFree, 0};
    const bool photo = matchBits >= kPhotoBitsPerByte * static_cast<double>(sample.bytes.size());
    if (photo)
        return {Coder::Matching, kMatchingPhotoDiscount, false};
    return {Coder::Matching, kMatchingDiscount};
}

// True when a block of rows from the middle of the frame comes out
// clearly smaller unfiltered. Rows together, not the sample's groups of
// four: screens gain unfiltered from repeats the groups cut off, and their
// first rows misjudged every screen tried.
bool UnfilteredWins(const PngSource& source, const FastKernels& k, size_t n, size_t bpp,
                    const LiteralTables& costs, const uint8_t* literalBits)
{
    const size_t count = std::min<size_t>(source.height, kUnfilteredTrialRows);
    const size_t first = (source.height - count) / 2;
    std::vector<uint8_t> filtered, raw;
    filtered.reserve(count * (n + 1));
    raw.reserve(count * (n + 1));
    const RowLease lease(n);
    RowBuffers& rows = *lease;
    rows.ClearPrev();
    const FilterPolicy policy{costs, kMatchingDiscount};
    for (size_t r = first; r < first + count; ++r) {
        k.swizzle(SourceRow(source, r), rows.cur(), n, source.pixels);
        const uint8_t* data = FilterBest(k, rows, bpp, policy, r == first);
        filtered.insert(filtered.end(), data, data + n + 1);
        raw.push_back(0);
        raw.insert(raw.end(), rows.cur(), rows.cur() + n);
        rows.Advance();
    }
    static ScratchShelf<MatchParse> shelf;
    const auto parseLease = shelf.Take();
    MatchParse& parse = *parseLease;
    parse.Clear();
    ParseMatches(filtered.data(), filtered.size(), bpp, n + 1, literalBits, parse);
    const double filteredBits = static_cast<double>(CodedBits(parse));
    parse.Clear();
    ParseMatches(raw.data(), raw.size(), bpp, n + 1, literalBits, parse);
    return static_cast<double>(CodedBits(parse)) < (1 - kUnfilteredGain) * filteredBits;
}

// The filter nearly all sampled rows took, on grain only: elsewhere rows
// that agree in the sample may still differ where it did not look (the
// edges of flat areas, say), and cost much more under the wrong filter.
uint8_t FrameFilter(const Sample& sample, const FrameChoice& choice)
{
    if (!choice.shaped || static_cast<double>(EstimatedBits(sample.counts, choice.lengths)) <
                              kPhotoBitsPerByte * static_cast<double>(sample.bytes.size()))
        return kAnyFilter;
    const size_t* most = std::max_element(std::begin(sample.rowsWith), std::end(sample.rowsWith));
    if (*most * 100 < sample.rows * kFrameFilterPercent)
        return kAnyFilter;
    return static_cast<uint8_t>(most - std::begin(sample.rowsWith));
}

} // namespace

void ChooseFrameCoder(const PngSource& source, const FastKernels& k, size_t n, size_t bpp,
                      FrameChoice& choice)
{
    FillGuessedCosts(choice.guess);
    Sample sample;
    TakeSample(source, k, n, bpp, choice.guess, sample);
    choice.shaped = BuildFrameCode(sample.counts, choice.code, choice.lengths);
    const Decision decision = Decide(sample, n, bpp, choice.shaped ? &choice.lengths : nullptr,
                                     choice.LiteralBits());
    choice.coder = decision.coder;
    choice.upDiscountPercent = decision.upDiscountPercent;
    choice.rowDistance = decision.rowDistance;
    if (decision.coder == Coder::MatchFree)
        choice.frameFilter = FrameFilter(sample, choice);
    // Screens only: photographs are never smaller unfiltered.
    if (decision.coder == Coder::Matching && decision.rowDistance)
        choice.unfiltered = UnfilteredWins(source, k, n, bpp, choice.guess, choice.LiteralBits());
}

Coder CoderFor(const PngSource& source)
{
    const size_t bpp = PngBytesPerPixel(source.pixels);
    if (source.width == 0 || source.height == 0 || source.firstRow == nullptr || bpp == 0)
        return Coder::MatchFree;
    FrameChoice choice;
    ChooseFrameCoder(source, ActiveKernels(), size_t{source.width} * bpp, bpp, choice);
    return choice.coder;
}

} // namespace pngcore
