// ICM_COMPRESS_QUERY, ICM_COMPRESS_GET_FORMAT and ICM_COMPRESS_GET_SIZE
// through DriverProc.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>

#include "tests/support/driver.h"

namespace {

BITMAPINFOHEADER Compressed(int32_t width, int32_t height, uint16_t bitCount)
{
    BITMAPINFOHEADER header = DibHeader(width, height, bitCount, 0);
    header.biCompression = kFourccMpng;
    return header;
}

struct QueryCase {
    uint16_t bitCount;
    int32_t inputWidth, inputHeight;
    int32_t outputWidth, outputHeight;
    DWORD outputCompression;
    LRESULT answer;
};

std::ostream& operator<<(std::ostream& out, const QueryCase& c)
{
    return out << c.bitCount << " bits " << c.inputWidth << "x" << c.inputHeight << " to "
               << c.outputWidth << "x" << c.outputHeight;
}

const QueryCase kQueryCases[] = {
    {8, 16, 16, 16, 16, kFourccMpng, 0},
    {24, 16, 16, 16, 16, kFourccMpng, 0},
    {32, 16, 16, 16, 16, kFourccMpng, 0},
    // 16-bit inputs get a format but are not accepted for compression.
    {16, 16, 16, 16, 16, kFourccMpng, -2},
    {4, 16, 16, 16, 16, kFourccMpng, -2},
    {1, 16, 16, 16, 16, kFourccMpng, -2},
    {0, 16, 16, 16, 16, kFourccMpng, -2},
    {24, 16, 16, 17, 16, kFourccMpng, -2},
    {24, 16, 16, 16, 15, kFourccMpng, -2},
    // Opposite orientation is a different format.
    {24, 16, 16, 16, -16, kFourccMpng, -2},
    // A top-down input with the same negative height is accepted.
    {24, 16, -16, 16, -16, kFourccMpng, 0},
    {24, 16, 16, 16, 16, BI_RGB, -2},
    {24, 16, 16, 16, 16, 0x676E706D, -2},  // "mpng": FOURCCs are case-sensitive
};

class CompressQueryTest : public testing::TestWithParam<QueryCase> {};

TEST_P(CompressQueryTest, Answers)
{
    const QueryCase c = GetParam();
    BITMAPINFOHEADER input = DibHeader(c.inputWidth, c.inputHeight, c.bitCount, 0);
    BITMAPINFOHEADER output = Compressed(c.outputWidth, c.outputHeight, 24);
    output.biCompression = c.outputCompression;
    EXPECT_EQ(Send(0, ICM_COMPRESS_QUERY, &input, &output), c.answer);
}

INSTANTIATE_TEST_SUITE_P(Cases, CompressQueryTest, testing::ValuesIn(kQueryCases));

TEST(CompressQuery, WithoutOutputAcceptsAnything)
{
    BITMAPINFOHEADER input = DibHeader(-7, 0, 13, 0xFFFFFFFF);
    input.biCompression = 0x12345678;
    EXPECT_EQ(Send(0, ICM_COMPRESS_QUERY, &input, 0), 0);
}

TEST(CompressQuery, IgnoresOutputDepthAndInputCompression)
{
    BITMAPINFOHEADER input = DibHeader(8, 8, 24, 0);
    input.biCompression = 0x33333333;
    BITMAPINFOHEADER output = Compressed(8, 8, 7);
    output.biPlanes = 9;
    output.biSizeImage = 1;
    EXPECT_EQ(Send(0, ICM_COMPRESS_QUERY, &input, &output), 0);
}

TEST(CompressQuery, AcceptsTheFormatItProposes)
{
    for (uint16_t bits : {8, 24, 32}) {
        BITMAPINFOHEADER input = DibHeader(33, 7, bits, 0);
        FormatBuffer proposed{};
        ASSERT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &input, &proposed), 0);
        EXPECT_EQ(Send(0, ICM_COMPRESS_QUERY, &input, &proposed), 0) << bits;
    }
    BITMAPINFOHEADER gray16 = DibHeader(33, 7, 16, 0);
    FormatBuffer proposed{};
    ASSERT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &gray16, &proposed), 0);
    EXPECT_EQ(Send(0, ICM_COMPRESS_QUERY, &gray16, &proposed), -2);
}

TEST(CompressGetFormat, SizeWithoutOutputForAnyDepth)
{
    for (uint16_t bits : {0, 1, 4, 8, 15, 16, 24, 32, 64}) {
        BITMAPINFOHEADER input = DibHeader(4, 4, bits, 64);
        EXPECT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &input, 0), bits == 8 ? 1064 : 40) << bits;
    }
}

TEST(CompressGetFormat, RefusedDepthLeavesOutputUntouched)
{
    for (uint16_t bits : {0, 1, 4, 15, 48}) {
        BITMAPINFOHEADER input = DibHeader(4, 4, bits, 64);
        FormatBuffer output;
        std::memset(&output, 0x5C, sizeof output);
        const FormatBuffer before = output;
        EXPECT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &input, &output), -2) << bits;
        EXPECT_EQ(std::memcmp(&output, &before, sizeof output), 0) << bits;
    }
}

TEST(CompressGetFormat, ProposesTheInputWithMpngChanges)
{
    for (uint16_t bits : {16, 24, 32}) {
        BITMAPINFOHEADER input = DibHeader(640, 480, bits, 0x12345678);
        input.biPlanes = 3;
        input.biXPelsPerMeter = 2835;
        input.biYPelsPerMeter = -2835;
        input.biClrUsed = 17;
        input.biClrImportant = 5;
        FormatBuffer output;
        std::memset(&output, 0x5C, sizeof output);
        ASSERT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &input, &output), 0);

        const BITMAPINFOHEADER& h = output.header;
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 640);
        EXPECT_EQ(h.biHeight, 480);
        EXPECT_EQ(h.biPlanes, 3);
        EXPECT_EQ(h.biBitCount, bits);
        EXPECT_EQ(h.biCompression, 0x474E504Du);
        EXPECT_EQ(h.biSizeImage, 0x2468ACF0u);
        EXPECT_EQ(h.biXPelsPerMeter, 0);
        EXPECT_EQ(h.biYPelsPerMeter, 0);
        EXPECT_EQ(h.biClrUsed, 0u);
        EXPECT_EQ(h.biClrImportant, 0u);
        // Only 8-bit formats are followed by a palette.
        EXPECT_EQ(output.palette[0].rgbBlue, 0x5C);
    }
}

TEST(CompressGetFormat, EightBitGetsTheGrayRampWhateverItsPalette)
{
    FormatBuffer input{};
    input.header = DibHeader(16, 16, 8, 256);
    input.header.biClrUsed = 256;
    for (int i = 0; i < 256; ++i)
        input.palette[i] = RGBQUAD{static_cast<BYTE>(255 - i), 7, static_cast<BYTE>(i), 9};
    FormatBuffer output;
    std::memset(&output, 0x5C, sizeof output);
    ASSERT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &input, &output), 0);
    EXPECT_EQ(output.header.biClrUsed, 0u);
    const RGBQUAD entry = output.palette[200];
    EXPECT_EQ(entry.rgbBlue, 200);
    EXPECT_EQ(entry.rgbGreen, 200);
    EXPECT_EQ(entry.rgbRed, 200);
    EXPECT_EQ(entry.rgbReserved, 0);
    EXPECT_EQ(output.palette[255].rgbRed, 255);
}

TEST(CompressGetFormat, LongerInputHeaderGivesFortyByteOutput)
{
    // A 108-byte header: only its first 40 bytes are copied.
    uint8_t input[108];
    std::memset(input, 0x42, sizeof input);
    BITMAPINFOHEADER first = DibHeader(200, 100, 24, 60000);
    first.biSize = 108;
    std::memcpy(input, &first, sizeof first);
    FormatBuffer output;
    std::memset(&output, 0x5C, sizeof output);
    ASSERT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, input, &output), 0);
    EXPECT_EQ(output.header.biSize, 40u);
    EXPECT_EQ(output.header.biWidth, 200);
    EXPECT_EQ(output.header.biSizeImage, 120000u);
    EXPECT_EQ(output.palette[0].rgbBlue, 0x5C);
}

TEST(CompressGetFormat, OutputMayBeTheInputItself)
{
    BITMAPINFOHEADER header = DibHeader(256, 256, 24, 196608);
    ASSERT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &header, &header), 0);
    EXPECT_EQ(header.biCompression, kFourccMpng);
    EXPECT_EQ(header.biSizeImage, 393216u);
}

TEST(CompressGetSize, IsTwiceTheFrameSaturatingAtThirtyTwoBits)
{
    struct {
        int32_t width, height;
        DWORD sizeImage;
        DWORD answer;
    } const cases[] = {
        {640, 480, 921600, 1843200},
        {640, 480, 0x7FFFFFFF, 0xFFFFFFFE},
        // Past 32 bits the answer stays at the top instead of wrapping small.
        {640, 480, 0x80000000, 0xFFFFFFFF},
        {640, 480, 0xFFFFFFFF, 0xFFFFFFFF},
        // One byte a row: filter bytes double the rows, and Huffman codes
        // of up to 14 bits pass 32 bits.
        {1, 0x7FFFFFFF, 0x7FFFFFFF, 0xFFFFFFFF},
    };
    for (auto c : cases) {
        BITMAPINFOHEADER input = DibHeader(c.width, c.height, 24, c.sizeImage);
        EXPECT_EQ(static_cast<DWORD>(Send(0, ICM_COMPRESS_GET_SIZE, &input, 0)), c.answer)
            << c.width << "x" << c.height << " " << c.sizeImage;
        EXPECT_GE(Send(0, ICM_COMPRESS_GET_SIZE, &input, 0), 0) << "a count, never negative";
    }
}

TEST(CompressGetSize, SmallFramesGetRoomForTheirWholePng)
{
    // The PNG's fixed chunks alone pass twice a tiny frame; the answer must
    // hold them and the rows stored uncompressed.
    for (uint16_t bits : {8, 16, 24, 32}) {
        for (int32_t side : {1, 2, 4, 16}) {
            const DWORD sizeImage = (side * bits + 31) / 32 * 4 * side;
            BITMAPINFOHEADER input = DibHeader(side, side, bits, sizeImage);
            const auto answer = static_cast<DWORD>(Send(0, ICM_COMPRESS_GET_SIZE, &input, 0));
            const DWORD stored = 57 + side * (1 + side * bits / 8) + 5;
            EXPECT_GE(answer, stored + 4096) << side << "x" << side << "x" << bits;
            EXPECT_GE(answer, 2 * sizeImage);
            FormatBuffer output;
            ASSERT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &input, &output), 0);
            EXPECT_EQ(output.header.biSizeImage, answer) << "GET_FORMAT agrees";
        }
    }
}

TEST(CompressGetSize, ClaimedExtentsWithoutTheBytesAskForLittle)
{
    // Only rows inside biSizeImage are ever compressed, so a header that
    // claims a huge frame over a few bytes must not make hosts allocate
    // gigabytes.
    for (int32_t side : {70000, -70000, 0x7FFFFFFF}) {
        for (DWORD sizeImage : {DWORD{0}, DWORD{64}}) {
            BITMAPINFOHEADER input = DibHeader(side, side, 24, sizeImage);
            EXPECT_LT(static_cast<DWORD>(Send(0, ICM_COMPRESS_GET_SIZE, &input)), 8192u)
                << side << " " << sizeImage;
        }
    }
}

TEST(CompressGetSize, IgnoresTheOutputFormat)
{
    BITMAPINFOHEADER input = DibHeader(640, 480, 24, 921600);
    BITMAPINFOHEADER output = Compressed(1, 1, 8);
    output.biSizeImage = 5;
    EXPECT_EQ(Send(0, ICM_COMPRESS_GET_SIZE, &input, &output), 1843200);
}

}  // namespace
