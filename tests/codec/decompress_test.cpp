// ICM_DECOMPRESS on frames from other writers, on frames that do not fit
// the output, and on frames that are damaged.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/support/frames.h"
#include "tests/support/reference_png.h"

namespace {

BITMAPINFOHEADER CompressedHeader(int32_t width, int32_t height, uint16_t bitCount, size_t size)
{
    BITMAPINFOHEADER header = DibHeader(width, height, bitCount, static_cast<uint32_t>(size));
    header.biCompression = kFourccMpng;
    return header;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(seed);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

// A valid 24-bit frame of the codec's own, for damaging.
CompressedFrame OwnFrame(DWORD_PTR id, int32_t width, int32_t height)
{
    Frame frame(width, height, 24);
    frame.FillRandom(21);
    return CompressFrame(id, frame).frame;
}

TEST(Decompress, NullFrameLeavesOutputUntouched)
{
    CodecSession codec;
    const BITMAPINFOHEADER input = CompressedHeader(4, 4, 24, 0);
    const BITMAPINFOHEADER output = DibHeader(4, 4, 24, 48);
    const uint8_t nothing = 0;
    const DecompressResult result = DecompressInto(codec.id(), input, &nothing, output);
    EXPECT_EQ(result.result, ICERR_OK);
    EXPECT_EQ(result.rows, std::vector<uint8_t>(48, 0x3C));
}

TEST(Decompress, DamagedFramesAreReportedAndLeaveOutputUntouched)
{
    CodecSession codec;
    const CompressedFrame good = OwnFrame(codec.id(), 16, 8);
    ASSERT_FALSE(good.bytes.empty());
    const BITMAPINFOHEADER output = DibHeader(16, 8, 24, 384);

    struct Damage {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Damage> damages;
    damages.push_back({"not a PNG", Pattern(300, 1)});
    damages.push_back({"signature only", {good.bytes.begin(), good.bytes.begin() + 8}});
    damages.push_back({"truncated in IDAT", {good.bytes.begin(), good.bytes.begin() + good.bytes.size() / 2}});
    damages.push_back({"cut inside the IDAT CRC", {good.bytes.begin(), good.bytes.end() - 13}});
    std::vector<uint8_t> badCrc = good.bytes;
    badCrc[29] ^= 0x01;  // last byte of the IHDR CRC
    damages.push_back({"bad IHDR CRC", badCrc});
    std::vector<uint8_t> badData = good.bytes;
    badData[45] ^= 0xFF;  // inside the IDAT data: the zlib stream or its CRC breaks
    damages.push_back({"damaged IDAT", badData});
    damages.push_back({"one zero byte", {0}});

    for (const Damage& damage : damages) {
        const BITMAPINFOHEADER input = CompressedHeader(16, 8, 24, damage.bytes.size());
        const DecompressResult result = DecompressInto(codec.id(), input, damage.bytes.data(), output);
        EXPECT_EQ(result.result, ICERR_ERROR) << damage.what;
        EXPECT_EQ(result.rows, std::vector<uint8_t>(384, 0x3C)) << damage.what;
        EXPECT_TRUE(result.guardsIntact) << damage.what;
    }
}

TEST(Decompress, TrailingBytesAfterTheFrameAreIgnored)
{
    // biSizeImage larger than the PNG: the host's promise covers those
    // bytes, and what follows IEND is not picture data.
    CodecSession codec;
    Frame frame(16, 8, 24);
    frame.FillRandom(4);
    CompressedFrame compressed = CompressFrame(codec.id(), frame).frame;
    compressed.bytes.resize(compressed.bytes.size() + 100, 0x99);
    compressed.format.header.biSizeImage = static_cast<DWORD>(compressed.bytes.size());
    const DecompressResult result = DecompressFrame(codec.id(), compressed);
    ASSERT_EQ(result.result, ICERR_OK);
    EXPECT_EQ(result.rows, frame.rows);
}

TEST(Decompress, LargerPictureWritesOnlyTheDescribedRows)
{
    CodecSession codec;
    Frame frame(64, 48, 24);
    frame.FillRandom(5);
    const CompressedFrame compressed = CompressFrame(codec.id(), frame).frame;

    // Output format of 10x6: rows of 32 bytes, 6 of them.
    const BITMAPINFOHEADER output = DibHeader(10, 6, 24, 0);
    const DecompressResult result = DecompressInto(
        codec.id(), compressed.format.header, compressed.bytes.data(), output);
    EXPECT_EQ(result.result, ICERR_OK);
    EXPECT_TRUE(result.guardsIntact);
    ASSERT_EQ(result.rows.size(), 6u * 32u);
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(std::memcmp(result.rows.data() + r * 32, frame.Row(r), 32), 0) << r;
}

TEST(Decompress, TopDownOutputHeightCountsByItsMagnitude)
{
    CodecSession codec;
    Frame frame(8, 20, 32);
    frame.FillRandom(6);
    const CompressedFrame compressed = CompressFrame(codec.id(), frame).frame;
    const BITMAPINFOHEADER output = DibHeader(8, -5, 32, 0);
    const DecompressResult result = DecompressInto(
        codec.id(), compressed.format.header, compressed.bytes.data(), output);
    EXPECT_EQ(result.result, ICERR_OK);
    EXPECT_TRUE(result.guardsIntact);
    EXPECT_EQ(std::memcmp(result.rows.data(), frame.rows.data(), result.rows.size()), 0);
}

TEST(Decompress, SmallerPictureWritesOnlyItsOwnRows)
{
    // A 4x3 frame into a 10x6 output: 3 rows of 12 bytes; the rest keeps
    // its earlier content.
    CodecSession codec;
    Frame frame(4, 3, 24);
    frame.FillRandom(7);
    frame.format.header.biSizeImage = 200;  // room for the PNG in the host's buffer
    frame.rows.resize(200);
    const CompressedFrame compressed = CompressFrame(codec.id(), frame).frame;
    ASSERT_FALSE(compressed.bytes.empty());
    const BITMAPINFOHEADER output = DibHeader(10, 6, 24, 0);
    const DecompressResult result = DecompressInto(
        codec.id(), compressed.format.header, compressed.bytes.data(), output);
    EXPECT_EQ(result.result, ICERR_OK);
    EXPECT_TRUE(result.guardsIntact);
    const int stride = 200 / 3;  // rows as compression read them
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(std::memcmp(result.rows.data() + r * 32, frame.rows.data() + r * stride, 12), 0);
        EXPECT_EQ(result.rows[r * 32 + 12], 0x3C) << "beyond the decoded row";
    }
    for (size_t i = 3 * 32; i < result.rows.size(); ++i)
        ASSERT_EQ(result.rows[i], 0x3C) << i;
}

TEST(Decompress, NonPositiveOutputRowWritesNothing)
{
    CodecSession codec;
    const CompressedFrame compressed = OwnFrame(codec.id(), 8, 8);
    for (int32_t width : {0, -8}) {
        const BITMAPINFOHEADER output = DibHeader(width, 8, 24, 0);
        uint8_t sentinel[64];
        std::memset(sentinel, 0x3C, sizeof sentinel);
        BITMAPINFOHEADER input = compressed.format.header;
        BITMAPINFOHEADER out = output;
        ICDECOMPRESS decompress{};
        decompress.lpbiInput = &input;
        decompress.lpInput = const_cast<uint8_t*>(compressed.bytes.data());
        decompress.lpbiOutput = &out;
        decompress.lpOutput = sentinel;
        EXPECT_EQ(Send(codec.id(), ICM_DECOMPRESS, &decompress), ICERR_ERROR) << width;
        for (uint8_t b : sentinel)
            ASSERT_EQ(b, 0x3C);
    }
}

TEST(Decompress, TwentyFourBitFrameIntoEightBitOutputCopiesRawBytes)
{
    // The query accepts any depth of the same size; rows are copied as the
    // decoder delivers them, no conversion.
    CodecSession codec;
    Frame frame(8, 4, 24);
    frame.FillRandom(8);
    frame.format.header.biSizeImage = 400;
    frame.rows.resize(400);
    const CompressedFrame compressed = CompressFrame(codec.id(), frame).frame;
    const BITMAPINFOHEADER output = DibHeader(8, 4, 8, 32);
    EXPECT_EQ(Send(codec.id(), ICM_DECOMPRESS_QUERY, &compressed.format.header, &output), 0);
    const DecompressResult result = DecompressInto(
        codec.id(), compressed.format.header, compressed.bytes.data(), output);
    ASSERT_EQ(result.result, ICERR_OK);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(std::memcmp(result.rows.data() + r * 8, frame.rows.data() + r * 100, 8), 0);
}

struct ForeignCase {
    const char* what;
    uint8_t colorType;
    uint8_t bitDepth;
    uint8_t interlace;
    uint16_t outputBits;  // the depth whose layout the decoded pixels have
};

std::ostream& operator<<(std::ostream& out, const ForeignCase& c) { return out << c.what; }

const ForeignCase kForeign[] = {
    {"RGB", SPNG_COLOR_TYPE_TRUECOLOR, 8, SPNG_INTERLACE_NONE, 24},
    {"RGBA", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, SPNG_INTERLACE_NONE, 32},
    {"gray", SPNG_COLOR_TYPE_GRAYSCALE, 8, SPNG_INTERLACE_NONE, 8},
    {"gray 16", SPNG_COLOR_TYPE_GRAYSCALE, 16, SPNG_INTERLACE_NONE, 16},
    {"palette", SPNG_COLOR_TYPE_INDEXED, 8, SPNG_INTERLACE_NONE, 8},
    {"interlaced RGB", SPNG_COLOR_TYPE_TRUECOLOR, 8, SPNG_INTERLACE_ADAM7, 24},
    {"interlaced RGBA", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, SPNG_INTERLACE_ADAM7, 32},
};

class ForeignPngTest : public testing::TestWithParam<ForeignCase> {};

// What a pixel of the source PNG becomes in DIB byte order.
std::vector<uint8_t> ExpectedRow(const ForeignCase& c, const uint8_t* png, uint32_t width)
{
    std::vector<uint8_t> row;
    for (uint32_t x = 0; x < width; ++x) {
        switch (c.outputBits) {
        case 8: row.push_back(png[x]); break;
        case 16: row.push_back(png[2 * x]); row.push_back(png[2 * x + 1]); break;  // host order in, little-endian out
        case 24: row.insert(row.end(), {png[3 * x + 2], png[3 * x + 1], png[3 * x]}); break;
        case 32: row.insert(row.end(), {png[4 * x + 2], png[4 * x + 1], png[4 * x], png[4 * x + 3]}); break;
        }
    }
    return row;
}

TEST_P(ForeignPngTest, DecodesIntoTheProposedFormat)
{
    const ForeignCase c = GetParam();
    const uint32_t width = 13;
    const uint32_t height = 9;
    const uint32_t channels = c.outputBits / 8 / (c.bitDepth / 8);
    const size_t rowBytes = width * channels * (c.bitDepth / 8);
    const std::vector<uint8_t> pixels = Pattern(rowBytes * height, c.colorType * 31u + c.bitDepth);
    spng_plte palette{};
    palette.n_entries = 256;
    for (uint32_t i = 0; i < 256; ++i)
        palette.entries[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 3, 0};
    const std::vector<uint8_t> png = WriteReferencePng(
        width, height, c.colorType, c.bitDepth, pixels,
        c.colorType == SPNG_COLOR_TYPE_INDEXED ? &palette : nullptr, c.interlace);
    ASSERT_FALSE(png.empty()) << c.what;

    CodecSession codec;
    const BITMAPINFOHEADER input = CompressedHeader(width, height, c.outputBits, png.size());
    FormatBuffer proposed{};
    ASSERT_EQ(Send(codec.id(), ICM_DECOMPRESS_GET_FORMAT, &input, &proposed), ICERR_OK);
    const DecompressResult result = DecompressInto(codec.id(), input, png.data(), proposed.header);
    ASSERT_EQ(result.result, ICERR_OK) << c.what;
    EXPECT_TRUE(result.guardsIntact);
    const int32_t outRow = DibRowBytes(c.outputBits, width);
    for (uint32_t r = 0; r < height; ++r) {
        const std::vector<uint8_t> expected = ExpectedRow(c, pixels.data() + r * rowBytes, width);
        ASSERT_EQ(std::memcmp(result.rows.data() + r * outRow, expected.data(), expected.size()), 0)
            << c.what << " row " << r;
    }
}

INSTANTIATE_TEST_SUITE_P(Writers, ForeignPngTest, testing::ValuesIn(kForeign));

}  // namespace
