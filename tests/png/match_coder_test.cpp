// The matching path: parses written as deflate must inflate to the bytes
// parsed, whatever their repeats; frames it suits must take it and still
// read back exactly.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <memory>
#include <random>

#include "platform/png/match_coder.h"
#include "test_frames.h"

using namespace pngcore;

namespace {

// Literal bits of a residual-like code: small values cheap.
const uint8_t* ResidualBits()
{
    static uint8_t bits[256];
    for (unsigned b = 0; b < 256; ++b) {
        const int r = static_cast<int8_t>(b);
        bits[b] = static_cast<uint8_t>(r == 0 ? 2 : r > -8 && r < 8 ? 5 : 10);
    }
    return bits;
}

struct Piece {
    const char* name;
    std::vector<uint8_t> (*make)();
    size_t pixel;
    size_t row;
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

const Piece kPieces[] = {
    {"empty", [] { return std::vector<uint8_t>(); }, 3, 10},
    {"shorter than a probe", [] { return std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0}; }, 1, 4},
    {"random", [] { return RandomBytes(70000, 1); }, 3, 301},
    {"zeros past the longest match", [] { return std::vector<uint8_t>(100003, 0); }, 4, 97},
    {"pixel repeats",
     [] {
         std::vector<uint8_t> v = RandomBytes(3, 2);
         for (size_t i = 3; i < 50000; ++i)
             v.push_back(i % 301 == 0 ? 7 : v[i - 3]);
         return v;
     },
     3, 900},
    {"row repeats with changes",
     [] {
         std::vector<uint8_t> v = RandomBytes(1201, 3);
         std::mt19937 rng(4);
         for (size_t i = 1201; i < 120000; ++i)
             v.push_back(rng() % 50 == 0 ? static_cast<uint8_t>(rng()) : v[i - 1201]);
         return v;
     },
     4, 1201},
    {"repeats that start anywhere in rows shorter than them",
     [] {
         // Matches found at pixel starts grow back over several rows.
         std::vector<uint8_t> v = RandomBytes(37, 8);
         std::mt19937 rng(9);
         for (size_t i = 37; i < 30000; ++i)
             v.push_back(rng() % 97 == 0 ? static_cast<uint8_t>(rng()) : v[i - 37]);
         return v;
     },
     4, 5},
    {"rows wider than the window",
     [] {
         std::vector<uint8_t> v = RandomBytes(40000, 5);
         v.insert(v.end(), v.begin(), v.end());
         return v;
     },
     4, 40000},
    {"repeat exactly a window back and one past it",
     [] {
         std::vector<uint8_t> v = RandomBytes(32769, 6);
         v.insert(v.end(), v.begin(), v.begin() + 4000);  // 32769 back: too far
         v.insert(v.end(), v.end() - 32768, v.end() - 32768 + 4000);
         return v;
     },
     3, 5000},
    {"skewed counts that need codes past 15 bits",
     [] {
         // Fibonacci counts give an unlimited Huffman tree 25 levels deep.
         std::vector<uint8_t> v;
         uint64_t a = 1, b = 1;
         for (unsigned s = 0; s < 26; ++s) {
             for (uint64_t i = 0; i < a; ++i)
                 v.push_back(static_cast<uint8_t>(s * 9 + 1));
             const uint64_t c = a + b;
             a = b;
             b = c;
         }
         std::shuffle(v.begin(), v.end(), std::mt19937(7));
         return v;
     },
     2, 33},
};

// Writes `parse` as one final block and inflates it; its bytes must be
// `bytes`, and the estimate near the size.
void ExpectInflatesTo(const MatchParse& parse, const std::vector<uint8_t>& bytes)
{
    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> d(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    std::vector<uint8_t> coded(MatchBlockBound(bytes.size()));
    BitWriter writer;
    writer.next = coded.data();
    WriteParse(parse, writer, true);
    writer.AlignToByte();
    const size_t size = static_cast<size_t>(writer.next - coded.data());
    ASSERT_LE(size + 8, coded.size());
    const uint64_t estimate = CodedBits(parse) / 8;
    EXPECT_LT(estimate, size + 80);
    EXPECT_GT(estimate + 80, size);
    std::vector<uint8_t> back(bytes.size() + 1);
    size_t in = 0, out = 0;
    ASSERT_EQ(libdeflate_deflate_decompress_ex(d.get(), coded.data(), size, back.data(), back.size(),
                                               &in, &out),
              LIBDEFLATE_SUCCESS);
    EXPECT_EQ(in, size);
    back.resize(out);
    EXPECT_EQ(back, bytes);
}

TEST(MatchCoder, ParsesInflateToTheirBytes)
{
    for (const Piece& piece : kPieces) {
        for (const bool rowDistance : {true, false}) {
            SCOPED_TRACE(testing::Message() << piece.name << (rowDistance ? "" : ", no row distance"));
            const std::vector<uint8_t> bytes = piece.make();
            MatchParse parse;
            ParseMatches(bytes.data(), bytes.size(), piece.pixel, piece.row, ResidualBits(), parse,
                         rowDistance);
            ExpectInflatesTo(parse, bytes);
        }
    }
}

TEST(MatchCoder, PiecesParsedIntoOneParseWriteTheirBytesInOrder)
{
    // Each piece's matches stay inside it, and its literals are read from it.
    std::vector<uint8_t> whole;
    MatchParse parse;
    std::vector<std::vector<uint8_t>> pieces;
    for (const Piece& piece : kPieces)
        pieces.push_back(piece.make());
    for (size_t i = 0; i < pieces.size(); ++i) {
        ParseMatches(pieces[i].data(), pieces[i].size(), kPieces[i].pixel, kPieces[i].row,
                     ResidualBits(), parse);
        whole.insert(whole.end(), pieces[i].begin(), pieces[i].end());
    }
    ExpectInflatesTo(parse, whole);
}

TEST(MatchCoder, SmoothFramesTakeTheMatchingPathOnEveryLayout)
{
    for (PngPixels pixels : {PngPixels::Index8, PngPixels::Gray16, PngPixels::Bgr24, PngPixels::Bgra32}) {
        SCOPED_TRACE(PixelsName(pixels));
        const Frame frame = MakeFrame(700, 90, pixels, Content::Smooth, 2);
        std::vector<uint8_t> png;
        ASSERT_TRUE(EncodePng(frame.Source(), png));
        EXPECT_GT(FirstBlockDistanceCodes(png), 1u);
        DecodedPng bySpng, byFast;
        ASSERT_TRUE(ReferenceDecode(png.data(), png.size(), bySpng));
        EXPECT_TRUE(SamePixels(frame, bySpng));
        ASSERT_TRUE(pngcore::DecodePlainPng(png.data(), png.size(), byFast));
        EXPECT_TRUE(SamePixels(frame, byFast));
    }
}

} // namespace
