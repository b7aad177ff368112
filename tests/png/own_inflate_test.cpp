// The reader for our own band shape: it must give back the exact bytes of
// every band our writer makes, decline every other shape, and never write
// outside its output whatever the input.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <cstring>
#include <memory>
#include <random>

#include "platform/png/frame_code.h"
#include "platform/png/match_coder.h"
#include "platform/png/own_inflate.h"
#include "platform/png/simd_path.h"

using namespace pngcore;

namespace {

// Filtered-looking bytes: small residuals, runs, and repeats a pixel and
// a row back, so the parse has literals and matches of every kind.
std::vector<uint8_t> BandBytes(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i) {
        const uint32_t r = rng() % 16;
        v[i] = r < 6 && i >= 3 ? v[i - 3] : r < 9 && i >= 600 ? v[i - 600]
               : r < 11 ? 0 : static_cast<uint8_t>(static_cast<int>(rng() % 9) - 4);
    }
    return v;
}

// The band as the writer ends it: final and padded, or closed by the
// empty stored block.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& bytes, bool last, MatchParse* edited = nullptr)
{
    uint8_t bits[256];
    for (unsigned b = 0; b < 256; ++b)
        bits[b] = b == 0 ? 2 : 6;
    MatchParse parse;
    ParseMatches(bytes.data(), bytes.size(), 3, 600, bits, parse);
    if (edited != nullptr) {
        *edited = std::move(parse);
        return {};
    }
    std::vector<uint8_t> out(MatchBlockBound(bytes.size()) + 16);
    BitWriter writer;
    writer.next = out.data();
    WriteParse(parse, writer, last);
    if (!last)
        writer.Put(0, 3);
    writer.AlignToByte();
    if (!last) {
        static constexpr uint8_t kEmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
        std::memcpy(writer.next, kEmptyStored, 4);
        writer.next += 4;
    }
    out.resize(static_cast<size_t>(writer.next - out.data()));
    return out;
}

std::vector<uint8_t> Write(const MatchParse& parse, size_t rawSize)
{
    std::vector<uint8_t> out(MatchBlockBound(rawSize) + 16);
    BitWriter writer;
    writer.next = out.data();
    WriteParse(parse, writer, true);
    writer.AlignToByte();
    out.resize(static_cast<size_t>(writer.next - out.data()));
    return out;
}

// The parse of one piece, `data`, rebuilt from `sequences` so that its
// symbol counts fit them.
MatchParse Rebuilt(const uint8_t* data, const std::vector<MatchParse::Sequence>& sequences)
{
    MatchParse parse;
    parse.Reserve(sequences.size());
    parse.pieces.push_back(data);
    const uint8_t* p = data;
    for (const MatchParse::Sequence& s : sequences) {
        AppendSequence(parse, p, s.literals, s.length, s.distance);
        p += s.literals + s.length;
    }
    return parse;
}

// Output with guard bytes on both sides.
struct Guarded {
    static constexpr size_t kGuard = 64;
    std::vector<uint8_t> buffer;
    explicit Guarded(size_t size) : buffer(size + 2 * kGuard, 0xA5) {}
    uint8_t* data() { return buffer.data() + kGuard; }
    bool GuardsIntact() const
    {
        for (size_t i = 0; i < kGuard; ++i) {
            if (buffer[i] != 0xA5 || buffer[buffer.size() - 1 - i] != 0xA5)
                return false;
        }
        return true;
    }
};

TEST(OwnInflate, ReadsBandsAsWrittenAndDeclinesWhatDoesNotFit)
{
    const std::vector<uint8_t> bytes = BandBytes(50000, 1);
    const std::vector<uint8_t> final = Deflate(bytes, true), closed = Deflate(bytes, false);
    const std::vector<uint8_t> five = {1, 2, 3, 4, 5}, none;
    struct Case {
        const char* name;
        std::vector<uint8_t> in;
        bool last;
        const std::vector<uint8_t>* expected;  // null when declined
        size_t outSize;
    };
    const Case cases[] = {
        {"final band", final, true, &bytes, bytes.size()},
        {"band closed by an empty stored block", closed, false, &bytes, bytes.size()},
        {"final band read as a closed one", final, false, nullptr, bytes.size()},
        {"closed band read as the last", closed, true, nullptr, bytes.size()},
        {"one byte short", {final.begin(), final.end() - 1}, true, nullptr, bytes.size()},
        {"a byte too many", [&] { auto v = final; v.push_back(0); return v; }(), true, nullptr, bytes.size()},
        {"stored block lost its tail", {closed.begin(), closed.end() - 2}, false, nullptr, bytes.size()},
        {"output one byte smaller", final, true, nullptr, bytes.size() - 1},
        {"output one byte larger", final, true, nullptr, bytes.size() + 1},
        {"stored block", {0x01, 0x05, 0x00, 0xFA, 0xFF, 1, 2, 3, 4, 5}, true, &five, 5},
        {"stored block with a bad check", {0x01, 0x05, 0x00, 0xFB, 0xFF, 1, 2, 3, 4, 5}, true, nullptr, 5},
        {"stored block longer than its data", {0x01, 0x06, 0x00, 0xF9, 0xFF, 1, 2, 3, 4, 5}, true, nullptr, 6},
        {"two stored blocks closing a band", {0x00, 0x02, 0x00, 0xFD, 0xFF, 1, 2, 0x00, 0x03, 0x00, 0xFC, 0xFF, 3, 4, 5},
         false, &five, 5},
        {"final block in a band before the last", {0x01, 0x05, 0x00, 0xFA, 0xFF, 1, 2, 3, 4, 5}, false, nullptr, 5},
        {"empty fixed Huffman block", {0x03, 0x00}, true, &none, 0},
        {"reserved block type", {0x07, 0x00}, true, nullptr, 0},
        {"nothing", {}, true, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Guarded out(c.outSize);
        EXPECT_EQ(InflateOwnBand(c.in.data(), c.in.size(), c.last, out.data(), c.outSize), c.expected != nullptr);
        EXPECT_TRUE(out.GuardsIntact());
        if (c.expected != nullptr && !c.expected->empty()) {
            EXPECT_EQ(std::memcmp(out.data(), c.expected->data(), c.expected->size()), 0);
        }
    }
}

TEST(OwnInflate, TwoBandsTogetherReadAsEachAlone)
{
    const std::vector<uint8_t> a = BandBytes(40000, 11), b = BandBytes(23000, 12);
    const std::vector<uint8_t> inA = Deflate(a, false), inB = Deflate(b, true);
    std::vector<uint8_t> damaged = inB;
    damaged[damaged.size() / 2] ^= 0x10;
    struct Case {
        const char* name;
        const std::vector<uint8_t>& second;
        bool last;
    };
    const Case cases[] = {{"both good", inB, true}, {"second damaged", damaged, true}, {"second declined", inB, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Guarded outA(a.size()), outB(b.size()), aloneB(b.size());
        bool ok[2];
        InflateOwnBands({inA.data(), inA.size(), false, outA.data(), a.size()},
                        {c.second.data(), c.second.size(), c.last, outB.data(), b.size()}, ok);
        EXPECT_TRUE(ok[0]);
        EXPECT_EQ(std::memcmp(outA.data(), a.data(), a.size()), 0);
        EXPECT_EQ(ok[1], InflateOwnBand(c.second.data(), c.second.size(), c.last, aloneB.data(), b.size()));
        if (ok[1]) {
            EXPECT_EQ(std::memcmp(outB.data(), aloneB.data(), b.size()), 0);
        }
        EXPECT_TRUE(outA.GuardsIntact() && outB.GuardsIntact());
    }
}

// Inflates `in`, a final band meant to hold `bytes`, on the portable path
// and on the best one, whose match copies differ: accepted or declined as
// `accepted` says, never writing outside, and exact where accepted.
void ExpectOnEveryCopy(const std::vector<uint8_t>& in, const std::vector<uint8_t>& bytes, bool accepted)
{
    for (PngSimdPath path : {PngSimdPath::Portable, PngBestSimdPath()}) {
        SCOPED_TRACE(static_cast<int>(path));
        PngForceSimdPath(path);
        Guarded out(bytes.size());
        EXPECT_EQ(InflateOwnBand(in.data(), in.size(), true, out.data(), bytes.size()), accepted);
        EXPECT_TRUE(out.GuardsIntact());
        if (accepted) {
            EXPECT_EQ(std::memcmp(out.data(), bytes.data(), bytes.size()), 0);
        }
    }
    PngForceSimdPath(PngBestSimdPath());
}

// Tables built for one band's code are kept for the next band that has
// it; a band whose code has as many lengths, but not the same ones, must
// not take them, alone or beside another band.
TEST(OwnInflate, BandsWithAnotherCodeOfTheSameSizeBuildTheirOwnTables)
{
    const std::vector<uint8_t> x = BandBytes(30000, 21), y = BandBytes(30000, 33);
    const std::vector<uint8_t> inX = Deflate(x, true), inY = Deflate(y, true);
    const auto counts = [](const std::vector<uint8_t>& in) { return (in[0] | in[1] << 8) >> 3 & 0x3FF; };
    ASSERT_EQ(counts(inX), counts(inY));
    struct Band {
        const std::vector<uint8_t>& raw;
        const std::vector<uint8_t>& in;
    };
    const Band bx{x, inX}, by{y, inY};
    const auto alone = [](const Band& band) {
        Guarded out(band.raw.size());
        return InflateOwnBand(band.in.data(), band.in.size(), true, out.data(), band.raw.size()) &&
               std::memcmp(out.data(), band.raw.data(), band.raw.size()) == 0;
    };
    // Each table sees both codes in turn, and one code twice running.
    const std::pair<Band, Band> runs[] = {{bx, by}, {by, bx}, {by, bx}, {bx, by}};
    for (const auto& [a, b] : runs) {
        EXPECT_TRUE(alone(a));
        EXPECT_TRUE(alone(b));
        Guarded outA(a.raw.size()), outB(b.raw.size());
        bool ok[2];
        InflateOwnBands({a.in.data(), a.in.size(), true, outA.data(), a.raw.size()},
                        {b.in.data(), b.in.size(), true, outB.data(), b.raw.size()}, ok);
        EXPECT_TRUE(ok[0] && ok[1]);
        EXPECT_EQ(std::memcmp(outA.data(), a.raw.data(), a.raw.size()), 0);
        EXPECT_EQ(std::memcmp(outB.data(), b.raw.data(), b.raw.size()), 0);
    }
}

TEST(OwnInflate, MatchesReachingBeforeTheBandOrPastItAreDeclinedOnEveryPath)
{
    const std::vector<uint8_t> bytes = BandBytes(20000, 2);
    MatchParse parse;
    Deflate(bytes, true, &parse);
    ASSERT_GT(parse.count, 1u);
    const std::vector<MatchParse::Sequence> found(parse.sequences.get(), parse.sequences.get() + parse.count);
    // The fast step, with and without its vector copy, hands the match
    // back to the checked step, which must decline it.
    const auto declined = [&](const std::vector<MatchParse::Sequence>& edited) {
        ExpectOnEveryCopy(Write(Rebuilt(bytes.data(), edited), bytes.size()), bytes, false);
    };
    // The first match reaching one byte before the band, and a whole window back.
    for (const uint16_t distance : {static_cast<uint16_t>(found[0].literals + 1), uint16_t{32768}}) {
        SCOPED_TRACE(distance);
        std::vector<MatchParse::Sequence> edited = found;
        edited[0].distance = distance;
        declined(edited);
    }
    // The last match made longer than what is left of the band.
    std::vector<MatchParse::Sequence> edited = found;
    ASSERT_LT(edited[edited.size() - 2].length, 258);
    edited[edited.size() - 2].length = 258;
    edited.back().literals = 0;
    declined(edited);
}

TEST(OwnInflate, CopiesEveryShortDistanceAndLengthOnEveryPath)
{
    // Matches of each distance up to 70 (periods, one and two vectors and
    // more) and of lengths around the vector sizes, a literal between
    // each; they run up to the band's last byte.
    std::mt19937 rng(5);
    std::vector<MatchParse::Sequence> sequences;
    std::vector<uint8_t> bytes;
    uint32_t literals = 0;  // since the last match
    const auto literal = [&] {
        bytes.push_back(static_cast<uint8_t>(rng()));
        ++literals;
    };
    for (int i = 0; i < 70; ++i)
        literal();
    for (uint16_t distance = 1; distance <= 70; ++distance) {
        for (uint16_t length : {3, 9, 15, 16, 17, 30, 32, 33, 47, 100, 258}) {
            sequences.push_back({literals, length, distance});
            literals = 0;
            for (uint32_t i = 0; i < length; ++i)
                bytes.push_back(bytes[bytes.size() - distance]);
            literal();
        }
    }
    bytes.pop_back();
    sequences.push_back({0, 0, 0});
    ExpectOnEveryCopy(Write(Rebuilt(bytes.data(), sequences), bytes.size()), bytes, true);
}

TEST(OwnInflate, ReadsTheLongestCodesAtEveryBitPosition)
{
    // Codes of 1 to 15 bits, the longest for the longest lengths and the
    // farthest distances: such a match takes 15 + 5 + 15 + 13 bits, through
    // the subtables and the bit-by-bit path, between the fast steps of
    // short literals. It comes at every bit position of the reader.
    uint8_t litlen[kLitLenSymbols] = {}, dist[kDistSymbols] = {};
    for (unsigned s = 0; s < 13; ++s)
        litlen[s] = static_cast<uint8_t>(s + 1);
    litlen[kEndOfBlock] = 14;
    litlen[283] = litlen[284] = 15;  // lengths 195..226 and 227..257
    for (unsigned s = 0; s < 14; ++s)
        dist[s] = static_cast<uint8_t>(s + 1);
    dist[28] = dist[29] = 15;  // distances 16385..24576 and 24577..32768
    uint32_t litlenCode[kLitLenSymbols], distCode[kDistSymbols];
    ASSERT_TRUE(CanonicalCodes(litlen, kLitLenSymbols, litlenCode));
    ASSERT_TRUE(CanonicalCodes(dist, kDistSymbols, distCode));

    std::vector<uint8_t> in(1 << 16), bytes;
    BitWriter writer;
    writer.next = in.data();
    WriteDynamicHeader(litlen, kLitLenSymbols, dist, kDistSymbols, writer, true);
    const auto literal = [&](unsigned b) {
        writer.Put(litlenCode[b], litlen[b]);
        bytes.push_back(static_cast<uint8_t>(b));
    };
    const auto match = [&](unsigned symbol, unsigned length, unsigned dsym, unsigned distance) {
        const unsigned base = symbol == 284 ? 227 : 195, dbase = dsym == 29 ? 24577 : 16385;
        writer.Put(litlenCode[symbol] | (length - base) << litlen[symbol], litlen[symbol] + 5);
        writer.Put(distCode[dsym] | (distance - dbase) << dist[dsym], dist[dsym] + 13);
        for (unsigned i = 0; i < length; ++i)
            bytes.push_back(bytes[bytes.size() - distance]);
    };
    for (unsigned i = 0; i < 33000; ++i)
        literal(i % 7 == 0 ? i % 13 : 0);
    // Every bit position, the match after a literal or straight after
    // another match.
    for (unsigned shift = 0; shift < 16; ++shift) {
        for (unsigned i = 0; i < shift; ++i)
            literal(0);
        literal(12);
        match(284, 257 - shift, 29, 32768 - shift * 97);
        match(283, 195 + shift, 28, 16385 + shift * 511);
        literal(3);
    }
    writer.Put(litlenCode[kEndOfBlock], litlen[kEndOfBlock]);
    writer.AlignToByte();
    in.resize(static_cast<size_t>(writer.next - in.data()));
    ExpectOnEveryCopy(in, bytes, true);
}

TEST(OwnInflate, DamagedBandsNeverWriteOutsideAndAgreeWithLibdeflate)
{
    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> d(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    const std::vector<uint8_t> bytes = BandBytes(6000, 3);
    const std::vector<uint8_t> good = Deflate(bytes, true);
    std::mt19937 rng(9);
    size_t accepted = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<uint8_t> in = good;
        // Header damage is the likeliest to break assumptions: aim there often.
        const size_t span = trial % 2 == 0 ? std::min<size_t>(in.size(), 120) : in.size();
        for (int flips = 1 + static_cast<int>(rng() % 3); flips > 0; --flips)
            in[rng() % span] ^= static_cast<uint8_t>(1u << (rng() % 8));
        Guarded out(bytes.size());
        const bool ok = InflateOwnBand(in.data(), in.size(), true, out.data(), bytes.size());
        ASSERT_TRUE(out.GuardsIntact()) << "trial " << trial;
        if (!ok)
            continue;
        ++accepted;
        std::vector<uint8_t> ref(bytes.size());
        size_t inUsed = 0, outUsed = 0;
        ASSERT_EQ(libdeflate_deflate_decompress_ex(d.get(), in.data(), in.size(), ref.data(), ref.size(),
                                                   &inUsed, &outUsed),
                  LIBDEFLATE_SUCCESS) << "trial " << trial;
        EXPECT_EQ(outUsed, bytes.size());
        EXPECT_EQ(std::memcmp(out.data(), ref.data(), ref.size()), 0) << "trial " << trial;
    }
    EXPECT_LT(accepted, 3000u);  // damage is noticed, not just survived
}

TEST(OwnInflate, FindsTheFinalBlockOfAnyStream)
{
    // Stored (level 0), fixed (short input) and dynamic blocks, one or many.
    const struct {
        int level;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0, BandBytes(150000, 4)}, {1, {1, 2, 3}},  {6, BandBytes(40, 5)},
        {4, BandBytes(400000, 6)}, {12, BandBytes(90000, 7)}, {1, std::vector<uint8_t>(70000, 9)},
    };
    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> d(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level << ", " << c.bytes.size() << " bytes");
        std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> z(
            libdeflate_alloc_compressor(c.level), libdeflate_free_compressor);
        std::vector<uint8_t> in(libdeflate_deflate_compress_bound(z.get(), c.bytes.size()) + 8);
        in.resize(libdeflate_deflate_compress(z.get(), c.bytes.data(), c.bytes.size(), in.data(), in.size()));
        Guarded out(c.bytes.size());
        StreamEnd end{};
        ASSERT_TRUE(InflateStream(in.data(), in.size(), out.data(), c.bytes.size(), end));
        EXPECT_TRUE(out.GuardsIntact());
        EXPECT_EQ(std::memcmp(out.data(), c.bytes.data(), c.bytes.size()), 0);
        EXPECT_EQ((end.endBit + 7) / 8, in.size());
        ASSERT_LT(end.finalBlockBit, end.endBit);
        // With the final flag cleared the stream no longer ends there.
        in[end.finalBlockBit / 8] ^= static_cast<uint8_t>(1u << (end.finalBlockBit % 8));
        std::vector<uint8_t> back(c.bytes.size());
        EXPECT_NE(libdeflate_deflate_decompress(d.get(), in.data(), in.size(), back.data(), back.size(), nullptr),
                  LIBDEFLATE_SUCCESS);
        EXPECT_FALSE(InflateStream(in.data(), in.size(), out.data(), c.bytes.size(), end));
        EXPECT_FALSE(InflateStream(in.data(), in.size() - 1, out.data(), c.bytes.size(), end));
    }
}

} // namespace
