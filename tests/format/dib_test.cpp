// Row sizes and the gray ramp, including the wrapping arithmetic hosts use.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>

#include "format/dib.h"
#include "tests/support/driver.h"

namespace {

struct RowCase {
    int32_t bitCount;
    int32_t width;
    int32_t rowBytes;
};

std::ostream& operator<<(std::ostream& out, const RowCase& c)
{
    return out << c.bitCount << " bits x " << c.width;
}

const RowCase kRowCases[] = {
    {24, 3, 12},  {24, 1, 4},   {24, 4, 12},   {32, 5, 20},  {8, 1, 4},
    {8, 4, 4},    {8, 5, 8},    {16, 3, 8},    {1, 1, 4},    {1, 33, 8},
    {4, 9, 8},    {24, 0, 0},   {0, 100, 0},
    // Negative widths round toward minus infinity.
    {8, -1, 0},   {24, -3, -8}, {32, -1, -4},  {1, -32, -4},  {1, -33, -4},
    // The product and sum wrap at 32 bits.
    {32, 0x7FFFFFFF, -4},
    {24, 0x10000000, -268435456},
    {32, 0x08000000, 0},
    {32, 0x04000000, -268435456},
};

class DibRowBytesTest : public testing::TestWithParam<RowCase> {};

TEST_P(DibRowBytesTest, MatchesHostArithmetic)
{
    const RowCase c = GetParam();
    EXPECT_EQ(DibRowBytes(c.bitCount, c.width), c.rowBytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, DibRowBytesTest, testing::ValuesIn(kRowCases));

TEST(FormatBytes, OnlyEightBitFormatsCarryAPalette)
{
    EXPECT_EQ(FormatBytes(8), 1064u);
    for (uint32_t bits : {0u, 1u, 4u, 16u, 24u, 32u, 264u})
        EXPECT_EQ(FormatBytes(bits), 40u) << bits;
}

TEST(FillGrayPalette, WritesTheRampAfterTheHeaderOnly)
{
    FormatBuffer buffer;
    std::memset(&buffer, 0x77, sizeof buffer);
    const BITMAPINFOHEADER before = buffer.header;
    FillGrayPalette(&buffer.header);
    EXPECT_EQ(std::memcmp(&buffer.header, &before, sizeof before), 0);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(buffer.palette[i].rgbBlue, i);
        ASSERT_EQ(buffer.palette[i].rgbGreen, i);
        ASSERT_EQ(buffer.palette[i].rgbRed, i);
        ASSERT_EQ(buffer.palette[i].rgbReserved, 0);
    }
}

}  // namespace
