// ICM_COMPRESS on frames it must refuse: it never reads outside the rows the
// header describes, never writes past the buffer the host was told to
// allocate, and reports every refusal as ICERR_ERROR.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/support/frames.h"

namespace {

struct Refusal {
    const char* what;
    int32_t width;
    int32_t height;
    uint16_t bitCount;
    uint32_t sizeImage;
};

std::ostream& operator<<(std::ostream& out, const Refusal& c) { return out << c.what; }

const Refusal kRefusals[] = {
    {"height 0 gives no stride", 4, 0, 24, 48},
    {"top-down", 4, -4, 24, 48},
    {"top-down with a size that reads as negative", 4, -1, 24, 0x80000000u},
    {"size 2^31 over height -1 must not trap", 4, -1, 24, 0x80000000u},
    {"negative stride over a positive height", 4, 4, 24, 0xFFFFFF00u},
    {"size 2^31 over height 1", 4, 1, 24, 0x80000000u},
    {"stride shorter than a row of pixels", 4, 4, 24, 44},
    {"size 0", 4, 4, 24, 0},
    {"width 0", 0, 4, 24, 48},
    {"negative width", -4, 4, 24, 48},
    {"32-bit stride one byte short", 5, 3, 32, 3 * 19},
    {"16-bit stride one byte short", 3, 2, 16, 2 * 5},
};

class CompressRefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(CompressRefusalTest, FailsWithoutTouchingOutput)
{
    const Refusal c = GetParam();
    CodecSession codec;
    ASSERT_NE(codec.id(), 0u);

    // The rows are a guarded buffer of exactly the claimed size (capped), so
    // a read outside them would be caught by AddressSanitizer.
    std::vector<uint8_t> rows(c.sizeImage < 4096 ? c.sizeImage + 1 : 4096, 0x42);
    BITMAPINFOHEADER input = DibHeader(c.width, c.height, c.bitCount, c.sizeImage);
    FormatBuffer output{};
    output.header = DibHeader(c.width, c.height, c.bitCount, 0xABCD);
    output.header.biCompression = kFourccMpng;
    GuardedBuffer out(256, 0x11);

    ICCOMPRESS compress{};
    compress.lpbiInput = &input;
    compress.lpInput = rows.data();
    compress.lpbiOutput = &output.header;
    compress.lpOutput = out.data();
    EXPECT_EQ(Send(codec.id(), ICM_COMPRESS, &compress), ICERR_ERROR) << c.what;
    EXPECT_EQ(output.header.biSizeImage, 0xABCDu) << c.what;
    EXPECT_TRUE(out.GuardsIntact()) << c.what;
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out.data()[i], 0x11) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Headers, CompressRefusalTest, testing::ValuesIn(kRefusals));

TEST(Compress, TinyAndNoisyFramesFitTheBufferTheHostWasToldToAllocate)
{
    // Twice a 1x1 frame is 8 bytes and no PNG is that short; noise does not
    // compress at all. Each must fit the GET_SIZE buffer and come back whole.
    struct {
        int32_t width, height;
    } const sizes[] = {{1, 1}, {2, 2}, {4, 4}, {3, 1}, {1, 97}, {61, 47}};
    CodecSession codec;
    for (const auto& size : sizes) {
        for (uint16_t bits : {8, 16, 24, 32}) {
            Frame frame(size.width, size.height, bits);
            frame.FillRandom(static_cast<uint32_t>(bits + size.width * 100 + size.height));
            const CompressResult result = CompressFrame(codec.id(), frame);
            ASSERT_EQ(result.result, ICERR_OK) << size.width << "x" << size.height << "x" << bits;
            EXPECT_TRUE(result.guardsIntact);
            const std::vector<uint8_t> back = DecompressFrame(codec.id(), result.frame).rows;
            ASSERT_EQ(back.size(), frame.rows.size());
            for (int32_t r = 0; r < size.height; ++r)  // padding is not a picture's
                ASSERT_EQ(std::memcmp(back.data() + r * frame.RowBytes(), frame.Row(r),
                                      frame.PixelBytes()), 0) << "row " << r;
        }
    }
}

TEST(Compress, LeavesKeyFrameFlagsAndChunkIdAlone)
{
    CodecSession codec;
    Frame frame(64, 8, 24);
    const CompressResult result = CompressFrame(codec.id(), frame);
    ASSERT_EQ(result.result, ICERR_OK);
    EXPECT_TRUE(result.guardsIntact) << "lpckid or lpdwFlags were written";
}

TEST(Compress, InstanceStaysUsableAfterAFailure)
{
    CodecSession codec;
    Frame topDown(8, -8, 24);  // not compressed: PNG rows run one way only
    EXPECT_EQ(CompressFrame(codec.id(), topDown).result, ICERR_ERROR);
    Frame frame(32, 32, 24);
    frame.FillRandom(9);
    const CompressResult result = CompressFrame(codec.id(), frame);
    ASSERT_EQ(result.result, ICERR_OK);
    EXPECT_EQ(DecompressFrame(codec.id(), result.frame).rows, frame.rows);
}

TEST(Compress, RowsPastTheLastStrideAreNotRead)
{
    // biSizeImage not a multiple of the height: the stride truncates and the
    // extra bytes are never part of a row.
    CodecSession codec;
    Frame frame(8, 10, 24);
    frame.FillRandom(11);
    frame.format.header.biSizeImage += 7;
    frame.rows.resize(frame.format.header.biSizeImage, 0xEE);
    const CompressResult result = CompressFrame(codec.id(), frame);
    ASSERT_EQ(result.result, ICERR_OK);
    const DecompressResult back = DecompressFrame(codec.id(), result.frame);
    ASSERT_EQ(back.result, ICERR_OK);
    EXPECT_TRUE(std::equal(back.rows.begin(), back.rows.end(), frame.rows.begin()));
}

}  // namespace
