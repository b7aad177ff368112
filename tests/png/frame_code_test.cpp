// The frame code: complete, shaped for the shuffle lookups, and able to
// use every length from 1 to 14 bits.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "platform/png/frame_code.h"
#include "platform/png/huffman_lengths.h"
#include "platform/png/symbols.h"
#include "test_frames.h"

using namespace pngcore;

namespace {

uint64_t KraftUnits(const CodeLengths& lengths)
{
    uint64_t units = 0;
    for (uint8_t len : lengths.litlen) {
        if (len != 0)
            units += uint64_t{1} << (15 - len);
    }
    return units;
}

// Symbol counts of a few kinds of frame.
std::vector<SymbolCounts> CountSets()
{
    std::vector<SymbolCounts> sets;
    std::mt19937 rng(5);
    SymbolCounts empty;  // nothing sampled at all
    sets.push_back(empty);
    SymbolCounts zeros;
    zeros.litlen[0] = 1000000;
    zeros.litlen[285] = 5000;
    sets.push_back(zeros);
    SymbolCounts uniform;
    for (unsigned s = 0; s < 256; ++s)
        uniform.litlen[s] = 1000;
    sets.push_back(uniform);
    SymbolCounts wide;  // residuals beyond +-16 dominate
    for (unsigned s = 0; s < 256; ++s)
        wide.litlen[s] = (s >= 16 && s < 240) ? 5000 + rng() % 5000 : 10;
    sets.push_back(wide);
    SymbolCounts skewed;
    for (unsigned s = 0; s < kLitLenSymbols; ++s)
        skewed.litlen[s] = rng() % 3 == 0 ? uint64_t{1} << (rng() % 30) : 0;
    sets.push_back(skewed);
    return sets;
}

TEST(FrameCode, CompleteAndShapedForLookups)
{
    for (const SymbolCounts& counts : CountSets()) {
        FrameCode code;
        CodeLengths lengths;
        ASSERT_TRUE(BuildFrameCode(counts, code, lengths));
        EXPECT_EQ(KraftUnits(lengths), uint64_t{1} << 15);
        for (unsigned s = 0; s < 256; ++s) {
            const bool ownCode = s < 16 || s >= 240;
            EXPECT_GE(lengths.litlen[s], ownCode ? 1 : 9) << s;
            EXPECT_LE(lengths.litlen[s], ownCode ? 8 : 14) << s;
            if (!ownCode) {
                EXPECT_EQ(lengths.litlen[s], lengths.litlen[s & 0xF0]) << s;
            }
        }
        EXPECT_NE(lengths.litlen[kEndOfBlock], 0);
        for (const RunPiece& piece : kRunPieces) {
            // Only pieces the counts saw get a code.
            EXPECT_EQ(lengths.litlen[piece.symbol] != 0, counts.litlen[piece.symbol] != 0);
            EXPECT_EQ(LengthSymbol(piece.first), piece.symbol);
            if (lengths.litlen[piece.symbol] != 0) {
                EXPECT_EQ(code.matchLength[piece.last],
                          lengths.litlen[piece.symbol] + piece.extraBits + 1);
            } else {
                EXPECT_EQ(code.matchLength[piece.last], 0);
            }
        }
    }
}

// Adds up what a run sends, using only the pieces it is given.
struct TallySink {
    unsigned allowed;  // bit i: kRunPieces[i] may be sent
    uint64_t zeros = 0;
    bool usedMissingPiece = false;
    void Literal(uint8_t byte) { zeros += byte == 0 ? 1 : 1000000; }
    void Match(uint32_t length)
    {
        zeros += length;
        for (size_t i = 0; i < std::size(kRunPieces); ++i) {
            if (length >= kRunPieces[i].first && length <= kRunPieces[i].last && !(allowed >> i & 1))
                usedMissingPiece = true;
        }
    }
    bool HasPiece(const RunPiece& piece) const
    {
        return allowed >> (&piece - kRunPieces) & 1;
    }
};

TEST(FrameCode, RunsSendExactlyTheirZerosWithAnySetOfPieces)
{
    for (unsigned allowed = 0; allowed < (1u << std::size(kRunPieces)); ++allowed) {
        for (uint64_t zeros = 0; zeros < 700; ++zeros) {
            TallySink sink{allowed};
            EmitRun(zeros, sink);
            ASSERT_EQ(sink.zeros, zeros) << allowed;
            ASSERT_FALSE(sink.usedMissingPiece) << allowed;
        }
    }
}

TEST(FrameCode, FramesWithRunsInUnsampledRowsRoundTrip)
{
    // Runs only where the sample does not look: the code lacks most run
    // pieces, and those runs must still come back as zeros.
    Frame frame = MakeFrame(600, 97, PngPixels::Bgr24, Content::Photo, 3);
    for (uint32_t y = 0; y < frame.height; ++y) {
        if (y % 7 == 3) {
            for (size_t x = 0; x < frame.RowBytes(); ++x)
                frame.bytes[y * frame.stride + x] = x < 900 ? 0 : frame.bytes[y * frame.stride + x];
        }
    }
    for (PngSimdPath path : AvailablePaths()) {
        ForcedPath forced(path);
        std::vector<uint8_t> png;
        ASSERT_TRUE(EncodePng(frame.Source(), png));
        DecodedPng decoded;
        ASSERT_TRUE(ReferenceDecode(png.data(), png.size(), decoded));
        EXPECT_TRUE(SamePixels(frame, decoded));
    }
}

// A few dominant small residuals, then the groups by distance from zero,
// each rarer than the last.
SymbolCounts GeometricCounts()
{
    SymbolCounts counts;
    const std::pair<unsigned, unsigned> dominant[] = {{0, 40}, {1, 40}, {255, 39}, {2, 38}, {254, 37},
                                                      {3, 37}, {253, 37}, {4, 36}, {252, 36}, {5, 36}};
    for (const auto& [symbol, log2Weight] : dominant)
        counts.litlen[symbol] = uint64_t{1} << log2Weight;
    const unsigned groups[] = {1, 14, 2, 13, 3, 12, 4, 11, 5, 10, 6, 9, 7, 8};
    double groupWeight = 4294967296.0;
    for (unsigned g : groups) {
        for (unsigned lo = 0; lo < 16; ++lo)
            counts.litlen[g * 16 + lo] = static_cast<uint64_t>(groupWeight);
        groupWeight *= 0.77;
    }
    return counts;
}

TEST(FrameCode, GeometricCountsUseEveryLength)
{
    // 33 symbols need codes of at most 8 bits, so lengths 1, 2 and 3 cannot
    // all occur at once; everything from 2 to 14 can.
    FrameCode code;
    CodeLengths lengths;
    ASSERT_TRUE(BuildFrameCode(GeometricCounts(), code, lengths));
    std::set<unsigned> used;
    for (unsigned s = 0; s < 256; ++s)
        used.insert(lengths.litlen[s]);
    EXPECT_EQ(used, (std::set<unsigned>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
}

TEST(FrameCode, FrameWithEveryCodeLengthRoundTrips)
{
    // Independent samples with the geometric spread: left, upper and
    // paeth differences spread wider, so rows go out unfiltered and the
    // frame's code takes the shape checked above.
    const SymbolCounts counts = GeometricCounts();
    std::vector<uint64_t> cumulative;
    uint64_t total = 0;
    for (unsigned s = 0; s < 256; ++s)
        cumulative.push_back(total += counts.litlen[s] / 4096 + (counts.litlen[s] ? 1 : 0));
    std::mt19937_64 rng(11);
    Frame frame = MakeFrame(1200, 120, PngPixels::Index8, Content::Flat);
    for (uint32_t y = 0; y < frame.height; ++y) {
        for (uint32_t x = 0; x < frame.width; ++x) {
            const uint64_t pick = rng() % total;
            frame.bytes[y * frame.stride + x] = static_cast<uint8_t>(
                std::upper_bound(cumulative.begin(), cumulative.end(), pick) - cumulative.begin());
        }
    }
    for (PngSimdPath path : AvailablePaths()) {
        ForcedPath forced(path);
        std::vector<uint8_t> png;
        ASSERT_TRUE(EncodePng(frame.Source(), png));
        DecodedPng bySpng, byFast;
        ASSERT_TRUE(ReferenceDecode(png.data(), png.size(), bySpng));
        EXPECT_TRUE(SamePixels(frame, bySpng));
        ASSERT_TRUE(pngcore::DecodePlainPng(png.data(), png.size(), byFast));
        EXPECT_TRUE(SamePixels(frame, byFast));
    }
}

TEST(HuffmanLengths, FitLengthsFillsTheSpaceExactly)
{
    const uint64_t weights[] = {100, 50, 25, 12, 6, 3, 1, 1};
    uint8_t lengths[8];
    HuffmanLengths(weights, 8, lengths);
    EXPECT_EQ(lengths[0], 1);
    EXPECT_EQ(lengths[7], 7);
    const uint8_t lo[8] = {2, 2, 2, 2, 2, 2, 2, 2};
    const uint8_t hi[8] = {4, 4, 4, 4, 4, 4, 4, 4};
    ASSERT_TRUE(FitLengths(weights, 8, lo, hi, 4, 16, lengths));
    uint64_t units = 0;
    for (uint8_t len : lengths) {
        EXPECT_GE(len, 2);
        EXPECT_LE(len, 4);
        units += uint64_t{1} << (4 - len);
    }
    EXPECT_EQ(units, 16u);
    EXPECT_LE(lengths[0], lengths[7]);
}

TEST(HuffmanLengths, ImpossibleBoundsAreReported)
{
    const uint64_t weights[] = {1, 1, 1};
    uint8_t lengths[3] = {1, 1, 1};
    const uint8_t lo[3] = {1, 1, 1};
    const uint8_t hi[3] = {1, 1, 1};
    EXPECT_FALSE(FitLengths(weights, 3, lo, hi, 1, 2, lengths));
}

} // namespace
