// ICM_DECOMPRESS_QUERY and ICM_DECOMPRESS_GET_FORMAT through DriverProc.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>

#include "format/dib.h"
#include "tests/support/driver.h"

namespace {

BITMAPINFOHEADER Compressed(int32_t width, int32_t height, uint16_t bitCount)
{
    BITMAPINFOHEADER header = DibHeader(width, height, bitCount, 1234);
    header.biCompression = kFourccMpng;
    return header;
}

TEST(DecompressQuery, NullInputIsAnError)
{
    BITMAPINFOHEADER output = DibHeader(4, 4, 24, 0);
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, 0, &output), -100);
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, 0, 0), -100);
}

TEST(DecompressQuery, OnlyMpngInputs)
{
    BITMAPINFOHEADER input = Compressed(4, 4, 24);
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, &input, 0), 0);
    input.biCompression = BI_RGB;
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, &input, 0), -2);
    input.biCompression = 0x676E706D;  // "mpng"
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, &input, 0), -2);
}

TEST(DecompressQuery, OutputMustHaveTheSameSize)
{
    struct {
        int32_t width, height;
        LRESULT answer;
    } const cases[] = {{4, 4, 0}, {5, 4, -2}, {4, 3, -2}, {4, -4, -2}, {-4, 4, -2}};
    for (auto c : cases) {
        BITMAPINFOHEADER input = Compressed(4, 4, 24);
        BITMAPINFOHEADER output = DibHeader(c.width, c.height, 24, 0);
        EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, &input, &output), c.answer)
            << c.width << "x" << c.height;
    }
}

TEST(DecompressQuery, IgnoresDepthsAndOutputCompression)
{
    BITMAPINFOHEADER input = Compressed(16, 9, 24);
    BITMAPINFOHEADER output = DibHeader(16, 9, 8, 0);
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, &input, &output), 0);
    output.biCompression = 0x32595559;  // "YUY2"
    output.biBitCount = 16;
    input.biBitCount = 3;
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, &input, &output), 0);
}

TEST(DecompressGetFormat, SizeWithoutOutput)
{
    for (uint16_t bits : {0, 1, 4, 8, 16, 24, 32}) {
        BITMAPINFOHEADER input = Compressed(4, 4, bits);
        EXPECT_EQ(Send(0, ICM_DECOMPRESS_GET_FORMAT, &input, 0), bits == 8 ? 1064 : 40);
    }
}

struct ProposalCase {
    uint16_t bitCount;
    int32_t width, height;
    uint32_t sizeImage;
};

std::ostream& operator<<(std::ostream& out, const ProposalCase& c)
{
    return out << c.bitCount << " bits " << c.width << "x" << c.height;
}

const ProposalCase kProposals[] = {
    {24, 3, 2, 24},
    {32, 5, -4, static_cast<uint32_t>(-80)},  // top-down: the two's-complement pattern
    {16, 3, 5, 40},
    {8, 5, 3, 24},
    {24, 1920, 1080, 6220800},
    {32, 1, 1, 4},
    {4, 9, 2, 16},  // every depth is answered
    {24, 0, 10, 0},
    {24, 0x7FFFFFFF, 1, static_cast<uint32_t>(DibRowBytes(24, 0x7FFFFFFF))},
    {24, 100000, 100000, static_cast<uint32_t>(300000u * 100000u)},  // wraps
};

class DecompressGetFormatTest : public testing::TestWithParam<ProposalCase> {};

TEST_P(DecompressGetFormatTest, BuildsAFreshHeader)
{
    const ProposalCase c = GetParam();
    BITMAPINFOHEADER input = Compressed(c.width, c.height, c.bitCount);
    input.biPlanes = 7;
    input.biXPelsPerMeter = 99;
    input.biClrUsed = 12;
    FormatBuffer output;
    std::memset(&output, 0x5C, sizeof output);
    ASSERT_EQ(Send(0, ICM_DECOMPRESS_GET_FORMAT, &input, &output), 0);

    const BITMAPINFOHEADER& h = output.header;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, c.width);
    EXPECT_EQ(h.biHeight, c.height);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, c.bitCount);
    EXPECT_EQ(h.biCompression, BI_RGB);
    EXPECT_EQ(h.biSizeImage, c.sizeImage);
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(h.biYPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(h.biClrImportant, 0u);
    if (c.bitCount == 8) {
        EXPECT_EQ(output.palette[77].rgbGreen, 77);
        EXPECT_EQ(output.palette[77].rgbReserved, 0);
    } else {
        EXPECT_EQ(output.palette[0].rgbBlue, 0x5C) << "nothing past 40 bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecompressGetFormatTest, testing::ValuesIn(kProposals));

TEST(DecompressGetFormat, DescribesEvenNonMpngInputs)
{
    BITMAPINFOHEADER input = DibHeader(3, 2, 24, 0);
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, &input, 0), -2);
    BITMAPINFOHEADER output{};
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_GET_FORMAT, &input, &output), 0);
    EXPECT_EQ(output.biSizeImage, 24u);
}

TEST(DecompressGetFormat, OutputMayBeTheInputItself)
{
    BITMAPINFOHEADER header = Compressed(3, 2, 24);
    ASSERT_EQ(Send(0, ICM_DECOMPRESS_GET_FORMAT, &header, &header), 0);
    EXPECT_EQ(header.biCompression, BI_RGB);
    EXPECT_EQ(header.biWidth, 3);
    EXPECT_EQ(header.biSizeImage, 24u);
}

TEST(DecompressGetFormat, ProposalIsAcceptedByTheQuery)
{
    BITMAPINFOHEADER input = Compressed(33, -7, 32);
    BITMAPINFOHEADER output{};
    ASSERT_EQ(Send(0, ICM_DECOMPRESS_GET_FORMAT, &input, &output), 0);
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, &input, &output), 0);
}

}  // namespace
