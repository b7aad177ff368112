// Damaged and lying PNGs fail cleanly: no crash, no huge allocation, no
// success with made-up pixels.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <cstring>
#include <vector>

#include "platform/png/png.h"
#include "tests/hostile/png_bytes.h"
#include "platform/png/readers.h"

namespace {

std::vector<uint8_t> Zlib(const std::vector<uint8_t>& data)
{
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    std::vector<uint8_t> out(libdeflate_zlib_compress_bound(c, data.size()));
    out.resize(libdeflate_zlib_compress(c, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

struct Header {
    uint32_t width;
    uint32_t height;
    uint8_t depth;
    uint8_t colorType;
    uint8_t interlace = 0;
};

// A PNG with the given header, optional PLTE, and IDAT holding `zlib`.
std::vector<uint8_t> BuildPng(const Header& h, const std::vector<uint8_t>& zlib,
                              bool palette = false)
{
    std::vector<uint8_t> png = png_bytes::Signature();
    png_bytes::Chunk(png, "IHDR", png_bytes::Ihdr(h.width, h.height, h.depth, h.colorType, h.interlace));
    if (palette)
        png_bytes::Chunk(png, "PLTE", std::vector<uint8_t>(256 * 3, 7));
    png_bytes::Chunk(png, "IDAT", zlib);
    png_bytes::Chunk(png, "IEND", {});
    return png;
}

// True when any reader accepts the bytes: DecodePng, the fast reader, or
// the libspng fallback alone.
bool DecodesEitherWay(const std::vector<uint8_t>& png)
{
    DecodedPng a, b, c;
    return DecodePng(png.data(), png.size(), a) ||
           pngcore::DecodePlainPng(png.data(), png.size(), b) ||
           pngcore::DecodeAnyPng(png.data(), png.size(), c);
}

std::vector<uint8_t> SmallPng(PngPixels pixels)
{
    std::vector<uint8_t> memory(5 * 4 * 3);
    for (size_t i = 0; i < memory.size(); ++i)
        memory[i] = uint8_t(i * 37);
    std::vector<uint8_t> png;
    const PngSource source{5, 3, pixels, memory.data(), 20};
    EncodePng(source, png);
    return png;
}

TEST(PngHostile, EveryTruncationFails)
{
    for (PngPixels pixels : {PngPixels::Bgr24, PngPixels::Index8, PngPixels::Gray16}) {
        const std::vector<uint8_t> png = SmallPng(pixels);
        DecodedPng whole;
        ASSERT_TRUE(DecodePng(png.data(), png.size(), whole));
        for (size_t cut = 0; cut < png.size(); ++cut) {
            std::vector<uint8_t> part(png.begin(), png.begin() + ptrdiff_t(cut));
            ASSERT_FALSE(DecodesEitherWay(part)) << "cut at " << cut << " of " << png.size();
        }
    }
}

TEST(PngHostile, EverySingleBitFlipFails)
{
    const std::vector<uint8_t> png = SmallPng(PngPixels::Bgra32);
    for (size_t at = 0; at < png.size(); ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            std::vector<uint8_t> bad = png;
            bad[at] ^= uint8_t(1 << bit);
            ASSERT_FALSE(DecodesEitherWay(bad)) << "byte " << at << " bit " << bit;
        }
    }
}

TEST(PngHostile, BytesAfterIendAreIgnored)
{
    std::vector<uint8_t> png = SmallPng(PngPixels::Bgr24);
    png.insert(png.end(), {1, 2, 3, 4, 5});
    DecodedPng decoded;
    EXPECT_TRUE(DecodePng(png.data(), png.size(), decoded));
}

TEST(PngHostile, NotPngAtAll)
{
    const uint8_t junk[] = "GIF89a and then some more bytes to read";
    DecodedPng decoded;
    EXPECT_FALSE(DecodePng(junk, sizeof junk, decoded));
    EXPECT_FALSE(DecodePng(junk, 0, decoded));
    EXPECT_FALSE(DecodePng(nullptr, 100, decoded));
}

// Valid CRCs around a broken zlib stream, for both readers.
TEST(PngHostile, ZlibErrorsFailWithValidCrcs)
{
    std::vector<uint8_t> rows(3 * (1 + 4 * 3), 0);
    for (size_t r = 0; r < 3; ++r)
        rows[r * 13] = 2;
    for (const Header& h : {Header{4, 3, 8, 2}, Header{4, 3, 8, 3}}) {
        const bool palette = h.colorType == 3;
        std::vector<uint8_t> input = rows;
        if (palette)
            input.resize(3 * 5);  // one byte per pixel
        std::vector<uint8_t> good = Zlib(input);
        ASSERT_TRUE(DecodesEitherWay(BuildPng(h, good, palette)));

        std::vector<uint8_t> badAdler = good;
        badAdler.back() ^= 1;
        EXPECT_FALSE(DecodesEitherWay(BuildPng(h, badAdler, palette)));

        std::vector<uint8_t> badHeader = good;
        badHeader[0] = 0x79;  // compression method 9
        EXPECT_FALSE(DecodesEitherWay(BuildPng(h, badHeader, palette)));

        std::vector<uint8_t> badBlock = good;
        badBlock[2] |= 0x06;  // block type 3 does not exist
        EXPECT_FALSE(DecodesEitherWay(BuildPng(h, badBlock, palette)));

        std::vector<uint8_t> tooShort = Zlib(std::vector<uint8_t>(input.begin(), input.end() - 2));
        EXPECT_FALSE(DecodesEitherWay(BuildPng(h, tooShort, palette)));
    }
}

// Compressed data past the last row is ignored, as libpng does; the image
// itself is whole.
TEST(PngHostile, ExtraImageDataIsIgnored)
{
    std::vector<uint8_t> rows(4 * 13, 0);  // four rows for a three-row image
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = i % 13 == 0 ? 0 : uint8_t(i);
    DecodedPng decoded;
    std::vector<uint8_t> png = BuildPng({4, 3, 8, 2}, Zlib(rows));
    ASSERT_TRUE(DecodePng(png.data(), png.size(), decoded));
    ASSERT_EQ(decoded.height, 3u);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            EXPECT_EQ(decoded.rows[y * decoded.stride + 3 * x + 2], rows[y * 13 + 1 + 3 * x]);
}

TEST(PngHostile, UnknownFilterTypeFails)
{
    for (const Header& h : {Header{4, 3, 8, 2}, Header{4, 3, 8, 3}}) {
        const size_t rowBytes = h.colorType == 3 ? 4 : 12;
        std::vector<uint8_t> rows(3 * (rowBytes + 1), 0);
        rows[rowBytes + 1] = 5;
        EXPECT_FALSE(DecodesEitherWay(BuildPng(h, Zlib(rows), h.colorType == 3)));
    }
}

// A few hundred bytes that declare gigabytes of pixels must be refused
// before anything of that size is allocated.
TEST(PngHostile, HugeDeclaredSizeInFewBytesFails)
{
    const std::vector<uint8_t> someRows = Zlib(std::vector<uint8_t>(4000, 0));
    const Header liars[] = {
        {65535, 65535, 8, 6},
        {65535, 65535, 16, 6},
        {65535, 65535, 8, 3},
        {65535, 65535, 8, 2, 1},
        {65535, 65535, 1, 0},
        {0x7FFFFFFF, 0x7FFFFFFF, 8, 2},
    };
    for (const Header& h : liars) {
        const std::vector<uint8_t> png = BuildPng(h, someRows, h.colorType == 3);
        ASSERT_LT(png.size(), 1200u);
        EXPECT_FALSE(DecodesEitherWay(png)) << h.width << "x" << h.height;
    }
}

TEST(PngHostile, RowsBeyondASigned32BitStrideAreRefused)
{
    // 4 bytes per pixel: one row of this width needs more than 2^31 - 1.
    const Header wide{pngcore::kMaxWidth + 1, 1, 8, 6};
    EXPECT_FALSE(DecodesEitherWay(BuildPng(wide, Zlib(std::vector<uint8_t>(64, 0)))));
}

TEST(PngHostile, ZeroSizeAndBadHeaderFieldsFail)
{
    const std::vector<uint8_t> rows = Zlib(std::vector<uint8_t>(13, 0));
    const Header bad[] = {
        {0, 1, 8, 2}, {1, 0, 8, 2}, {4, 1, 3, 2}, {4, 1, 8, 5}, {4, 1, 8, 2, 2}, {4, 1, 16, 3},
    };
    for (const Header& h : bad)
        EXPECT_FALSE(DecodesEitherWay(BuildPng(h, rows))) << int(h.depth) << " " << int(h.colorType);
}

TEST(PngHostile, MissingImageDataFails)
{
    std::vector<uint8_t> png = BuildPng({1, 1, 8, 0}, Zlib({0, 0}));
    // Drop the IDAT chunk: signature + IHDR (25 bytes) then IEND.
    const size_t idat = 8 + 25;
    const uint32_t length = uint32_t(png[idat]) << 24 | png[idat + 1] << 16 | png[idat + 2] << 8 |
                            png[idat + 3];
    png.erase(png.begin() + idat, png.begin() + ptrdiff_t(idat + 12 + length));
    EXPECT_FALSE(DecodesEitherWay(png));
}

}  // namespace
