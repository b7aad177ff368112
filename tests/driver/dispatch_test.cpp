// Every row of the message table, and the -1 answer for everything else.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/support/driver.h"

namespace {

struct FixedAnswer {
    UINT message;
    LRESULT answer;
};

std::ostream& operator<<(std::ostream& out, const FixedAnswer& c)
{
    return out << "message " << c.message;
}

// Messages answered without an instance or a look at their arguments.
const FixedAnswer kFixedAnswers[] = {
    {DRV_LOAD, 1},
    {DRV_ENABLE, 1},
    {DRV_DISABLE, 1},
    {DRV_FREE, 1},
    {DRV_CONFIGURE, 0},
    {DRV_QUERYCONFIGURE, 0},
    {DRV_INSTALL, 1},
    {DRV_REMOVE, 1},
    {ICM_COMPRESS_BEGIN, 0},
    {ICM_COMPRESS_END, 0},
    {ICM_DECOMPRESS_BEGIN, 0},
    {ICM_DECOMPRESS_END, 0},
    {ICM_COMPRESS_FRAMES_INFO, 0},
    {ICM_GETSTATE, 0},
    {ICM_SETSTATE, 0},
    {ICM_SET, 0},
    {ICM_GET, 0},
};

class FixedAnswerTest : public testing::TestWithParam<FixedAnswer> {};

TEST_P(FixedAnswerTest, AnswersWithoutLookingAtArguments)
{
    const FixedAnswer row = GetParam();
    // Garbage arguments and a bogus driver id must not be touched.
    const LPARAM garbage = static_cast<LPARAM>(0x5A5A5A5A);
    EXPECT_EQ(DriverProc(0xDEAD0000, nullptr, row.message, garbage, garbage), row.answer);
    EXPECT_EQ(DriverProc(0, nullptr, row.message, 0, 0), row.answer);
}

INSTANTIATE_TEST_SUITE_P(Table, FixedAnswerTest, testing::ValuesIn(kFixedAnswers));

class UnsupportedMessageTest : public testing::TestWithParam<UINT> {};

TEST_P(UnsupportedMessageTest, ReturnsMinusOneSignExtended)
{
    const LRESULT answer = Send(0, GetParam(), 0x1234, 0x5678);
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(answer, static_cast<LRESULT>(ICERR_UNSUPPORTED));
}

INSTANTIATE_TEST_SUITE_P(
    Unlisted, UnsupportedMessageTest,
    testing::Values(0u, 11u, 0x3FFFu, DRV_USER, ICM_DECOMPRESS_SET_PALETTE,
                    ICM_DECOMPRESS_GET_PALETTE, ICM_GETDEFAULTQUALITY, ICM_GETQUALITY,
                    ICM_SETQUALITY, ICM_CONFIGURE, ICM_GETERRORTEXT, ICM_DRAW_QUERY,
                    ICM_DRAW_BEGIN, ICM_DRAW_END, ICM_GET + 1, 0x6000u, 0xFFFFFFFFu));

TEST(Dispatch, ErrorCodesAreSignExtendedToPointerWidth)
{
    // A 4-bit format is refused; the refusal must arrive as -2 at full width.
    BITMAPINFOHEADER input = DibHeader(4, 4, 4, 8);
    FormatBuffer output{};
    EXPECT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &input, &output), -2);
    BITMAPINFOHEADER compressed = DibHeader(4, 4, 24, 0);
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, 0, &compressed), -100);
}

TEST(Dispatch, CompressGetSizeIsAnUnsignedCount)
{
    // Twice 0x7FFFFFFF wraps to 0xFFFFFFFE: a byte count, not an error code.
    BITMAPINFOHEADER input = DibHeader(1, 1, 24, 0x7FFFFFFFu);
    EXPECT_EQ(static_cast<uint32_t>(Send(0, ICM_COMPRESS_GET_SIZE, &input)), 0xFFFFFFFEu);
}

TEST(Dispatch, CloseWithoutInstanceChangesNothing)
{
    EXPECT_EQ(Send(0, DRV_CLOSE), 1);
}

TEST(Dispatch, CompressWithoutInstanceFails)
{
    BITMAPINFOHEADER input = DibHeader(2, 2, 24, 16);
    BITMAPINFOHEADER output = input;
    uint8_t rows[16] = {};
    uint8_t out[64] = {};
    ICCOMPRESS compress{};
    compress.lpbiInput = &input;
    compress.lpInput = rows;
    compress.lpbiOutput = &output;
    compress.lpOutput = out;
    EXPECT_EQ(Send(0, ICM_COMPRESS, &compress), ICERR_ERROR);
    EXPECT_EQ(output.biSizeImage, 16u);
}

}  // namespace
