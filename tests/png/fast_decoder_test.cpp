// The fast reader takes plain PNGs and answers "not handled" for the rest;
// whatever it does decode, libspng must decode to the same pixels.
#include <gtest/gtest.h>

#include <libdeflate.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "test_frames.h"

namespace {

struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};

void PutBe32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

std::vector<uint8_t> BuildPng(const std::vector<Chunk>& chunks)
{
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const Chunk& c : chunks) {
        PutBe32(out, static_cast<uint32_t>(c.data.size()));
        std::vector<uint8_t> typed(c.type.begin(), c.type.end());
        typed.insert(typed.end(), c.data.begin(), c.data.end());
        out.insert(out.end(), typed.begin(), typed.end());
        PutBe32(out, libdeflate_crc32(0, typed.data(), typed.size()));
    }
    return out;
}

std::vector<uint8_t> Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour,
                          uint8_t interlace = 0)
{
    std::vector<uint8_t> d;
    PutBe32(d, width);
    PutBe32(d, height);
    d.insert(d.end(), {depth, colour, 0, 0, interlace});
    return d;
}

std::vector<uint8_t> Zlib(const std::vector<uint8_t>& raw)
{
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    std::vector<uint8_t> out(libdeflate_zlib_compress_bound(c, raw.size()));
    out.resize(libdeflate_zlib_compress(c, raw.data(), raw.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

// Filtered rows of a small image: every filter type in turn.
std::vector<uint8_t> RawRows(uint32_t rowBytes, uint32_t height)
{
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(static_cast<uint8_t>(y % 5));
        for (uint32_t x = 0; x < rowBytes; ++x)
            raw.push_back(static_cast<uint8_t>(x * 13 + y * 7));
    }
    return raw;
}

// What the reader promises: decline, or decode exactly as libspng does.
void ExpectAgreement(const std::vector<uint8_t>& png)
{
    DecodedPng fast, reference;
    if (!pngcore::DecodePlainPng(png.data(), png.size(), fast))
        return;
    ASSERT_TRUE(ReferenceDecode(png.data(), png.size(), reference));
    ASSERT_EQ(fast.width, reference.width);
    ASSERT_EQ(fast.height, reference.height);
    ASSERT_EQ(fast.pixels, reference.pixels);
    const size_t rowBytes = fast.width * PngBytesPerPixel(fast.pixels);
    for (uint32_t y = 0; y < fast.height; ++y) {
        ASSERT_EQ(std::memcmp(fast.rows.data() + y * fast.stride,
                              reference.rows.data() + y * reference.stride, rowBytes),
                  0);
    }
}

bool FastTakes(const std::vector<uint8_t>& png)
{
    DecodedPng out;
    return pngcore::DecodePlainPng(png.data(), png.size(), out);
}

const std::vector<uint8_t> kRgbRows = RawRows(3 * 9, 6);

TEST(FastDecoder, TakesEachPlainLayout)
{
    struct Kind {
        uint8_t depth, colour, bpp;
        PngPixels pixels;
    };
    for (const Kind k : {Kind{8, 0, 1, PngPixels::Index8}, Kind{16, 0, 2, PngPixels::Gray16},
                         Kind{8, 2, 3, PngPixels::Bgr24}, Kind{8, 6, 4, PngPixels::Bgra32}}) {
        const auto png = BuildPng({{"IHDR", Ihdr(9, 6, k.depth, k.colour)},
                                   {"IDAT", Zlib(RawRows(9u * k.bpp, 6))},
                                   {"IEND", {}}});
        DecodedPng out;
        ASSERT_TRUE(pngcore::DecodePlainPng(png.data(), png.size(), out));
        EXPECT_EQ(out.pixels, k.pixels);
        ExpectAgreement(png);
    }
}

TEST(FastDecoder, TakesIndexedWithFullPaletteOnly)
{
    std::vector<uint8_t> full(768), part(48);
    const auto idat = Zlib(RawRows(9, 6));
    const auto withFull = BuildPng({{"IHDR", Ihdr(9, 6, 8, 3)}, {"PLTE", full}, {"IDAT", idat}, {"IEND", {}}});
    const auto withPart = BuildPng({{"IHDR", Ihdr(9, 6, 8, 3)}, {"PLTE", part}, {"IDAT", idat}, {"IEND", {}}});
    const auto without = BuildPng({{"IHDR", Ihdr(9, 6, 8, 3)}, {"IDAT", idat}, {"IEND", {}}});
    EXPECT_TRUE(FastTakes(withFull));
    ExpectAgreement(withFull);
    EXPECT_FALSE(FastTakes(withPart));
    EXPECT_FALSE(FastTakes(without));
}

TEST(FastDecoder, UndoesEveryPairOfFilters)
{
    // Rows are undone in pairs where both need the pixel on their left;
    // every ordered pair of filters, at every pixel size, row ends inside
    // and outside a 4-byte load.
    struct Kind {
        uint8_t depth, colour, bpp;
    };
    for (const Kind k : {Kind{8, 0, 1}, Kind{16, 0, 2}, Kind{8, 2, 3}, Kind{8, 6, 4}}) {
        for (uint32_t width : {1u, 2u, 3u, 5u, 8u, 13u}) {
            std::vector<uint8_t> raw;
            uint32_t height = 0;
            for (uint8_t first = 0; first < 5; ++first) {
                for (uint8_t second = 0; second < 5; ++second) {
                    for (uint8_t f : {first, second}) {
                        raw.push_back(f);
                        for (uint32_t x = 0; x < width * k.bpp; ++x)
                            raw.push_back(static_cast<uint8_t>(x * 29 + height * 53 + f));
                        ++height;
                    }
                }
            }
            for (auto& path : AvailablePaths()) {
                ForcedPath forced(path);
                const auto png = BuildPng({{"IHDR", Ihdr(width, height, k.depth, k.colour)},
                                           {"IDAT", Zlib(raw)},
                                           {"IEND", {}}});
                ASSERT_TRUE(FastTakes(png));
                ExpectAgreement(png);
            }
        }
    }
}

TEST(FastDecoder, UndoesRunsOfRowsThatLookLeft)
{
    // Rows that look left are undone eight, four or two at a time; runs of
    // 1 to 17 such rows (all paeth, all average, or sub, average and paeth
    // mixed) after other filters, at widths around the 4-byte loads and the
    // eight-pixel ramp.
    static constexpr uint8_t kPatterns[][3] = {{4, 4, 4}, {3, 3, 3}, {1, 4, 3}};
    for (const auto& pattern : kPatterns) {
        for (uint32_t bpp : {3u, 4u}) {
            for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 6u, 9u, 12u, 31u}) {
                for (uint32_t run = 1; run <= 17; ++run) {
                    std::vector<uint8_t> raw;
                    uint32_t height = 0;
                    for (uint8_t lead : {uint8_t{0}, uint8_t{2}, uint8_t{1}}) {
                        for (uint32_t r = 0; r < run + (lead == 1 ? 0 : 1); ++r) {
                            raw.push_back(r == 0 ? lead : pattern[r % 3]);
                            for (uint32_t x = 0; x < width * bpp; ++x)
                                raw.push_back(static_cast<uint8_t>(x * 37 + height * 101 + (x * height) % 7));
                            ++height;
                        }
                    }
                    const auto png = BuildPng({{"IHDR", Ihdr(width, height, 8, bpp == 3 ? 2 : 6)},
                                               {"IDAT", Zlib(raw)},
                                               {"IEND", {}}});
                    for (auto& path : AvailablePaths()) {
                        ForcedPath forced(path);
                        ASSERT_TRUE(FastTakes(png));
                        ExpectAgreement(png);
                    }
                }
            }
        }
    }
}

TEST(FastDecoder, LeavesOtherKindsToTheGeneralReader)
{
    const auto idat = Zlib(kRgbRows);
    const std::vector<std::vector<Chunk>> cases = {
        {{"IHDR", Ihdr(9, 6, 8, 2, 1)}, {"IDAT", idat}, {"IEND", {}}},         // interlaced
        {{"IHDR", Ihdr(9, 6, 16, 2)}, {"IDAT", idat}, {"IEND", {}}},           // 16-bit RGB
        {{"IHDR", Ihdr(9, 6, 4, 0)}, {"IDAT", idat}, {"IEND", {}}},            // 4-bit gray
        {{"IHDR", Ihdr(9, 6, 8, 4)}, {"IDAT", idat}, {"IEND", {}}},            // gray + alpha
        {{"IHDR", Ihdr(9, 6, 8, 2)}, {"tRNS", {0, 1, 0, 2, 0, 3}}, {"IDAT", idat}, {"IEND", {}}},
        {{"IHDR", Ihdr(9, 6, 8, 2)}, {"IDAT", idat}, {"tEXt", {'a', 0, 'b'}}, {"IDAT", {}}, {"IEND", {}}},
        {{"IHDR", Ihdr(9, 6, 8, 2)}, {"ZzZz", {}}, {"IDAT", idat}, {"IEND", {}}},  // unknown critical
        {{"IHDR", Ihdr(9, 6, 8, 2)}, {"IDAT", idat}},                          // no IEND
        {{"IHDR", Ihdr(9, 6, 8, 2)}, {"IEND", {}}},                            // no IDAT
        {{"IDAT", idat}, {"IHDR", Ihdr(9, 6, 8, 2)}, {"IEND", {}}},            // IHDR not first
        {{"IHDR", Ihdr(0, 6, 8, 2)}, {"IDAT", idat}, {"IEND", {}}},            // zero width
        {{"IHDR", Ihdr(0x80000000u, 1, 8, 2)}, {"IDAT", idat}, {"IEND", {}}},  // beyond PNG
        {{"IHDR", Ihdr(60000, 60000, 8, 6)}, {"IDAT", idat}, {"IEND", {}}},    // beyond limits
        {{"IHDR", Ihdr(9, 6, 8, 2)}, {"IDAT", idat}, {"IEND", {1}}},           // IEND with data
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto png = BuildPng(cases[i]);
        EXPECT_FALSE(FastTakes(png)) << "case " << i;
    }
}

TEST(FastDecoder, SkipsAncillaryChunksAndBytesAfterTheEnd)
{
    const auto idat = Zlib(kRgbRows);
    const std::vector<std::vector<Chunk>> cases = {
        {{"IHDR", Ihdr(9, 6, 8, 2)}, {"tEXt", {'a', 0, 'b'}}, {"IDAT", idat}, {"IEND", {}}},
        {{"IHDR", Ihdr(9, 6, 8, 2)}, {"IDAT", idat}, {"tEXt", {'a', 0, 'b'}}, {"IEND", {}}},
        {{"IHDR", Ihdr(9, 6, 8, 2)}, {"prIv", {1, 2, 3}}, {"pHYs", std::vector<uint8_t>(9, 1)},
         {"IDAT", idat}, {"IEND", {}}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        auto png = BuildPng(cases[i]);
        EXPECT_TRUE(FastTakes(png)) << "case " << i;
        ExpectAgreement(png);
        png.insert(png.end(), {0, 0, 0, 7, 'j', 'u', 'n', 'k'});
        EXPECT_TRUE(FastTakes(png)) << "case " << i << " with trailing bytes";
    }
}

TEST(FastDecoder, RefusesDamagedImageData)
{
    std::vector<uint8_t> badFilter = kRgbRows;
    badFilter[0] = 5;
    std::vector<uint8_t> trailing = Zlib(kRgbRows);
    trailing.push_back(0);
    const std::vector<uint8_t> shortRows(kRgbRows.begin(), kRgbRows.end() - 1);
    std::vector<uint8_t> longRows = kRgbRows;
    longRows.push_back(0);
    std::vector<uint8_t> badAdler = Zlib(kRgbRows);
    badAdler.back() ^= 1;
    for (const auto& idat : {Zlib(badFilter), trailing, Zlib(shortRows), Zlib(longRows), badAdler}) {
        const auto png = BuildPng({{"IHDR", Ihdr(9, 6, 8, 2)}, {"IDAT", idat}, {"IEND", {}}});
        EXPECT_FALSE(FastTakes(png));
    }
}

TEST(FastDecoder, JoinsSplitImageData)
{
    const auto zlib = Zlib(kRgbRows);
    for (size_t cut = 0; cut <= zlib.size(); ++cut) {
        const auto png = BuildPng({{"IHDR", Ihdr(9, 6, 8, 2)},
                                   {"IDAT", {zlib.begin(), zlib.begin() + cut}},
                                   {"IDAT", {}},
                                   {"IDAT", {zlib.begin() + cut, zlib.end()}},
                                   {"IEND", {}}});
        ASSERT_TRUE(FastTakes(png)) << cut;
        ExpectAgreement(png);
    }
}

TEST(FastDecoder, RefusesEveryTruncation)
{
    const Frame frame = MakeFrame(23, 5, PngPixels::Bgra32, Content::Photo);
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodePng(frame.Source(), png));
    for (size_t size = 0; size < png.size(); ++size) {
        // A copy of exactly `size` bytes so that a read past it is caught.
        const std::vector<uint8_t> cut(png.begin(), png.begin() + size);
        DecodedPng out;
        EXPECT_FALSE(pngcore::DecodePlainPng(cut.data(), cut.size(), out)) << size;
    }
}

TEST(FastDecoder, AgreesWithLibspngOnEveryBitFlip)
{
    const Frame frame = MakeFrame(11, 4, PngPixels::Bgr24, Content::Photo);
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodePng(frame.Source(), png));
    for (size_t bit = 0; bit < png.size() * 8; ++bit) {
        std::vector<uint8_t> flipped = png;
        flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        ExpectAgreement(flipped);
    }
}

TEST(FastDecoder, AgreesWithLibspngOnDamageBehindGoodCrcs)
{
    // Flip bits inside the zlib stream and repair the CRC, so the damage
    // reaches the inflater on both sides.
    const Frame frame = MakeFrame(11, 4, PngPixels::Bgr24, Content::Photo);
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodePng(frame.Source(), png));
    const size_t idat = 8 + 25;
    const uint32_t length = (uint32_t{png[idat]} << 24) | (png[idat + 1] << 16) | (png[idat + 2] << 8) | png[idat + 3];
    for (size_t bit = 0; bit < length * 8; ++bit) {
        std::vector<uint8_t> flipped = png;
        flipped[idat + 8 + bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        const uint32_t crc = libdeflate_crc32(0, flipped.data() + idat + 4, length + 4);
        for (int i = 0; i < 4; ++i)
            flipped[idat + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        ExpectAgreement(flipped);
    }
}

TEST(FastDecoder, AgreesWithLibspngOnFixtures)
{
    const std::filesystem::path dir = std::filesystem::path(TALVEROX_FIXTURES) / "png";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << "no PNG fixtures";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file())
            continue;
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        ExpectAgreement(bytes);
    }
}

} // namespace
