// Frames from other writers in the layouts the codec never writes itself:
// palette indices beyond the palette, 1-, 2- and 4-bit samples at widths
// that end mid-byte, interlaced pictures so small that some passes are
// empty, and chunks after IEND.
#include <gtest/gtest.h>

#include "tests/hostile/hostile.h"
#include "tests/hostile/png_bytes.h"
#include "tests/support/reference_png.h"

namespace {

using namespace png_bytes;

// Sample x of a row of packed `depth`-bit samples, most significant first.
uint32_t PackedSample(const uint8_t* row, uint32_t x, uint32_t depth)
{
    const uint32_t bit = x * depth;
    return (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

std::vector<uint8_t> PackedRows(uint32_t width, uint32_t height, uint32_t depth, uint32_t seed)
{
    std::vector<uint8_t> rows(((width * depth + 7) / 8) * height);
    std::mt19937 random(seed);
    for (auto& b : rows)
        b = static_cast<uint8_t>(random());
    return rows;
}

struct LowDepth {
    uint8_t colorType;  // gray or palette
    uint8_t bitDepth;
    uint8_t interlace;
    uint32_t width;
    uint32_t height;
};

std::ostream& operator<<(std::ostream& out, const LowDepth& c)
{
    return out << (c.colorType == SPNG_COLOR_TYPE_INDEXED ? "palette " : "gray ") << int{c.bitDepth}
               << "-bit " << c.width << "x" << c.height << (c.interlace != 0 ? " interlaced" : "");
}

std::vector<LowDepth> LowDepthCases()
{
    std::vector<LowDepth> cases;
    for (uint8_t color : {SPNG_COLOR_TYPE_GRAYSCALE, SPNG_COLOR_TYPE_INDEXED})
        for (uint8_t depth : {1, 2, 4})
            for (uint8_t interlace : {0, 1})
                for (auto [w, h] : {std::pair{13u, 3u}, std::pair{1u, 1u}, std::pair{2u, 9u}, std::pair{31u, 2u}})
                    cases.push_back({color, depth, interlace, w, h});
    return cases;
}

class LowDepthTest : public testing::TestWithParam<LowDepth> {};

// Gray levels are scaled to 0..255; palette indices are kept as stored. Both
// arrive as one byte per pixel in an 8-bit output.
TEST_P(LowDepthTest, DecodesOneBytePerPixel)
{
    const LowDepth c = GetParam();
    const std::vector<uint8_t> packed = PackedRows(c.width, c.height, c.bitDepth, c.width * 7 + c.bitDepth);
    spng_plte palette{};
    palette.n_entries = 1u << c.bitDepth;
    for (uint32_t i = 0; i < palette.n_entries; ++i)
        palette.entries[i] = {static_cast<uint8_t>(i * 9), 1, 2, 255};
    const std::vector<uint8_t> png = WriteReferencePng(
        c.width, c.height, c.colorType, c.bitDepth, packed,
        c.colorType == SPNG_COLOR_TYPE_INDEXED ? &palette : nullptr, c.interlace);
    ASSERT_FALSE(png.empty());

    CodecSession codec;
    const DecompressResult result = DecodeInto(codec.id(), png, c.width, c.height, 8);
    ASSERT_EQ(result.result, ICERR_OK);
    EXPECT_TRUE(result.guardsIntact);
    const uint32_t packedRow = (c.width * c.bitDepth + 7) / 8;
    const int32_t rowBytes = DibRowBytes(8, c.width);
    const uint32_t scale = c.colorType == SPNG_COLOR_TYPE_GRAYSCALE ? 255 / ((1u << c.bitDepth) - 1) : 1;
    for (uint32_t y = 0; y < c.height; ++y)
        for (uint32_t x = 0; x < c.width; ++x)
            ASSERT_EQ(result.rows[y * rowBytes + x], PackedSample(packed.data() + y * packedRow, x, c.bitDepth) * scale)
                << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Depths, LowDepthTest, testing::ValuesIn(LowDepthCases()));

// Indices a 4-entry palette does not have. Without transparency the indices
// are copied as they are; with tRNS the palette is applied, and an index it
// lacks must not make the decoder read past the palette: the frame is then
// either refused untouched, or decoded with the known entries right.
TEST(PalettePng, IndicesBeyondThePalette)
{
    const uint32_t width = 16;
    const uint32_t height = 16;
    auto index = [](uint32_t x, uint32_t y) { return (x + y * 16) & 0xFF; };  // 0..255
    const std::vector<uint8_t> idat = Zlib(Rows(width, height, index));
    const std::vector<uint8_t> plte = {10, 11, 12, 20, 21, 22, 30, 31, 32, 40, 41, 42};

    CodecSession codec;
    const DecompressResult plain = DecodeInto(codec.id(), Png(Ihdr(width, height, 8, 3), idat, plte), width, height, 8);
    ASSERT_EQ(plain.result, ICERR_OK);
    EXPECT_TRUE(plain.guardsIntact);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            ASSERT_EQ(plain.rows[y * width + x], index(x, y));

    const std::vector<uint8_t> trns = {255, 128, 0, 7};
    const DecompressResult applied =
        DecodeInto(codec.id(), Png(Ihdr(width, height, 8, 3), idat, plte, trns), width, height, 32);
    EXPECT_TRUE(applied.guardsIntact);
    if (applied.result != ICERR_OK) {
        EXPECT_EQ(applied.result, ICERR_ERROR);
        EXPECT_TRUE(Untouched(applied));
        return;
    }
    for (uint32_t i = 0; i < 4; ++i) {
        const uint8_t* pixel = applied.rows.data() + i * 4;  // pixels 0..3 of row 0
        EXPECT_EQ(pixel[0], plte[i * 3 + 2]);
        EXPECT_EQ(pixel[1], plte[i * 3 + 1]);
        EXPECT_EQ(pixel[2], plte[i * 3]);
        EXPECT_EQ(pixel[3], trns[i]);
    }
}

TEST(PalettePng, SubByteIndicesBeyondAShortPalette)
{
    // 4-bit indices 0..15 over a 2-entry palette: copied as indices.
    const uint32_t width = 7;
    const std::vector<uint8_t> packed = {0x01, 0x23, 0x45, 0x60, 0x89, 0xAB, 0xCD, 0xE0};
    std::vector<uint8_t> raw;
    for (int row = 0; row < 2; ++row) {
        raw.push_back(0);
        raw.insert(raw.end(), packed.begin() + row * 4, packed.begin() + row * 4 + 4);
    }
    const std::vector<uint8_t> png = Png(Ihdr(width, 2, 4, 3), Zlib(raw), {0, 0, 0, 255, 255, 255});
    CodecSession codec;
    const DecompressResult result = DecodeInto(codec.id(), png, width, 2, 8);
    ASSERT_EQ(result.result, ICERR_OK);
    EXPECT_TRUE(result.guardsIntact);
    const uint8_t expected[2][7] = {{0, 1, 2, 3, 4, 5, 6}, {8, 9, 10, 11, 12, 13, 14}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(result.rows[y * 8 + x], expected[y][x]) << x << "," << y;
}

struct Interlaced {
    uint8_t colorType;
    uint8_t bitDepth;
    uint16_t outputBits;
    uint32_t channels;
};

std::ostream& operator<<(std::ostream& out, const Interlaced& c)
{
    return out << "colour type " << int{c.colorType} << ", " << int{c.bitDepth} << "-bit";
}

const Interlaced kInterlaced[] = {
    {SPNG_COLOR_TYPE_GRAYSCALE, 8, 8, 1},
    {SPNG_COLOR_TYPE_GRAYSCALE, 16, 16, 1},
    {SPNG_COLOR_TYPE_TRUECOLOR, 8, 24, 3},
    {SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, 32, 4},
};

class InterlacedTest : public testing::TestWithParam<Interlaced> {};

// Sizes at which some of the seven passes hold no pixel at all.
TEST_P(InterlacedTest, TinyPicturesWithEmptyPasses)
{
    const Interlaced c = GetParam();
    CodecSession codec;
    for (auto [width, height] : {std::pair{1u, 1u}, std::pair{1u, 7u}, std::pair{7u, 1u}, std::pair{2u, 2u},
                                 std::pair{3u, 5u}, std::pair{5u, 3u}, std::pair{9u, 9u}}) {
        const uint32_t bytesPerPixel = c.channels * c.bitDepth / 8;
        std::vector<uint8_t> pixels(width * height * bytesPerPixel);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<uint8_t>(i * 37 + 11);
        const std::vector<uint8_t> png = WriteReferencePng(width, height, c.colorType, c.bitDepth, pixels,
                                                           nullptr, SPNG_INTERLACE_ADAM7);
        ASSERT_FALSE(png.empty());
        const DecompressResult result = DecodeInto(codec.id(), png, width, height, c.outputBits);
        ASSERT_EQ(result.result, ICERR_OK) << width << "x" << height;
        EXPECT_TRUE(result.guardsIntact);
        const int32_t rowBytes = DibRowBytes(c.outputBits, width);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t* in = pixels.data() + (y * width + x) * bytesPerPixel;
                const uint8_t* out = result.rows.data() + y * rowBytes + x * bytesPerPixel;
                switch (c.outputBits) {
                case 8: ASSERT_EQ(out[0], in[0]); break;
                case 16: ASSERT_EQ(out[0], in[0]); ASSERT_EQ(out[1], in[1]); break;  // libspng takes host order
                case 24: ASSERT_EQ(out[0], in[2]); ASSERT_EQ(out[1], in[1]); ASSERT_EQ(out[2], in[0]); break;
                case 32:
                    ASSERT_EQ(out[0], in[2]); ASSERT_EQ(out[1], in[1]);
                    ASSERT_EQ(out[2], in[0]); ASSERT_EQ(out[3], in[3]);
                    break;
                }
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, InterlacedTest, testing::ValuesIn(kInterlaced));

// Whatever follows IEND is not part of the frame's picture, even when it
// looks like more picture data.
TEST(ChunksAfterIend, AreNotPartOfThePicture)
{
    auto pixel = [](uint32_t x, uint32_t y) { return x * 3 + y * 50; };
    const std::vector<uint8_t> good = Png(Ihdr(8, 4, 8, 0), Zlib(Rows(8, 4, pixel)));
    const std::vector<uint8_t> other = Png(Ihdr(8, 4, 8, 0), Zlib(Rows(8, 4, [](uint32_t, uint32_t) { return 0xEE; })));

    struct Tail {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Tail> tails;
    {
        std::vector<uint8_t> t;
        Chunk(t, "IDAT", Zlib(Rows(8, 4, [](uint32_t, uint32_t) { return 0xEE; })));
        tails.push_back({"an IDAT", t});
    }
    {
        std::vector<uint8_t> t;
        Chunk(t, "tEXt", {'k', 0, 'v'});
        Chunk(t, "IEND", {});
        tails.push_back({"a tEXt and a second IEND", t});
    }
    {
        std::vector<uint8_t> t;
        Chunk(t, "IHDR", Ihdr(65535, 65535, 8, 6));
        tails.push_back({"a second IHDR claiming a huge picture", t});
    }
    tails.push_back({"a whole second PNG", other});
    tails.push_back({"a chunk with a bad CRC", {0, 0, 0, 1, 't', 'E', 'X', 't', 'x', 1, 2, 3, 4}});
    tails.push_back({"a chunk cut short", {0, 0, 0x10, 0, 'I', 'D', 'A', 'T', 1, 2}});

    CodecSession codec;
    for (const Tail& tail : tails) {
        std::vector<uint8_t> png = good;
        png.insert(png.end(), tail.bytes.begin(), tail.bytes.end());
        const DecompressResult result = DecodeInto(codec.id(), png, 8, 4, 8);
        ASSERT_EQ(result.result, ICERR_OK) << tail.what;
        EXPECT_TRUE(result.guardsIntact) << tail.what;
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 8; ++x)
                ASSERT_EQ(result.rows[y * 8 + x], pixel(x, y)) << tail.what;
    }
}

}  // namespace
