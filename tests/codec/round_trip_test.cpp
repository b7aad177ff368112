// Frames through ICM_COMPRESS and back through ICM_DECOMPRESS, as a host
// sends them, at every depth and at widths whose rows need padding.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/frames.h"
#include "tests/support/reference_png.h"

namespace {

using RoundTripCase = std::tuple<uint16_t, int32_t, int32_t>;  // depth, width, height

class RoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTripTest, RestoresEveryPixelByte)
{
    const auto [bitCount, width, height] = GetParam();
    CodecSession codec;
    ASSERT_NE(codec.id(), 0u);

    Frame frame(width, height, bitCount);
    frame.FillRandom(static_cast<uint32_t>(bitCount * 1000 + width * 10 + height));
    const CompressResult compressed = CompressFrame(codec.id(), frame);
    ASSERT_EQ(compressed.result, ICERR_OK);
    ASSERT_TRUE(compressed.guardsIntact);
    ASSERT_EQ(compressed.frame.format.header.biSizeImage, compressed.frame.bytes.size());

    const DecompressResult decompressed = DecompressFrame(codec.id(), compressed.frame);
    ASSERT_EQ(decompressed.result, ICERR_OK);
    ASSERT_TRUE(decompressed.guardsIntact);
    ASSERT_EQ(decompressed.rows.size(), frame.rows.size());
    for (int32_t r = 0; r < height; ++r) {
        const size_t offset = static_cast<size_t>(r) * frame.RowBytes();
        ASSERT_EQ(std::memcmp(decompressed.rows.data() + offset, frame.rows.data() + offset,
                              frame.PixelBytes()),
                  0)
            << "row " << r;
    }
}

// Random rows at width 1 need a larger buffer than twice their size, so
// tall frames give the PNG overhead room.
INSTANTIATE_TEST_SUITE_P(Depths, RoundTripTest,
                         testing::Combine(testing::Values<uint16_t>(8, 16, 24, 32),
                                          testing::Values(1, 2, 3, 5, 7, 33),
                                          testing::Values(40, 97)));

INSTANTIATE_TEST_SUITE_P(Wide, RoundTripTest,
                         testing::Combine(testing::Values<uint16_t>(8, 16, 24, 32),
                                          testing::Values(640, 1001),
                                          testing::Values(1, 2, 3)));

TEST(RoundTrip, FirstPngRowIsTheBottomDibRow)
{
    // A 2x2 bottom-up frame: the bottom row (first in memory) red, the top
    // blue. Its biSizeImage of 64 leaves the host's buffer room for the PNG
    // and makes the row distance 32.
    CodecSession codec;
    Frame frame(2, 2, 24);
    frame.format.header.biSizeImage = 64;
    frame.rows.assign(64, 0);
    const uint8_t red[6] = {0, 0, 255, 0, 0, 255};
    const uint8_t blue[6] = {255, 0, 0, 255, 0, 0};
    std::memcpy(frame.rows.data(), red, 6);
    std::memcpy(frame.rows.data() + 32, blue, 6);

    const CompressResult compressed = CompressFrame(codec.id(), frame);
    ASSERT_EQ(compressed.result, ICERR_OK);
    const ReferencePng png = ReadReferencePng(compressed.frame.bytes, SPNG_FMT_RGBA8);
    ASSERT_TRUE(png.ok);
    ASSERT_EQ(png.ihdr.width, 2u);
    ASSERT_EQ(png.ihdr.height, 2u);
    const uint8_t redRgba[8] = {255, 0, 0, 255, 255, 0, 0, 255};
    const uint8_t blueRgba[8] = {0, 0, 255, 255, 0, 0, 255, 255};
    EXPECT_EQ(std::memcmp(png.pixels.data(), redRgba, 8), 0);
    EXPECT_EQ(std::memcmp(png.pixels.data() + 8, blueRgba, 8), 0);
}

TEST(RoundTrip, AlphaIsKeptAsIsZeroIncluded)
{
    CodecSession codec;
    Frame frame(16, 16, 32);
    frame.FillRandom(7);
    for (size_t i = 3; i < frame.rows.size(); i += 4)
        frame.rows[i] = static_cast<uint8_t>(i % 3 == 0 ? 0 : i);
    const CompressResult compressed = CompressFrame(codec.id(), frame);
    ASSERT_EQ(compressed.result, ICERR_OK);

    // Colour under zero alpha survives too: nothing is premultiplied.
    const ReferencePng png = ReadReferencePng(compressed.frame.bytes, SPNG_FMT_RGBA8);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.pixels[0], frame.rows[2]);
    EXPECT_EQ(png.pixels[3], frame.rows[3]);

    const DecompressResult decompressed = DecompressFrame(codec.id(), compressed.frame);
    ASSERT_EQ(decompressed.result, ICERR_OK);
    EXPECT_EQ(decompressed.rows, frame.rows);
}

TEST(RoundTrip, EightBitIndicesKeptWhateverThePalette)
{
    CodecSession codec;
    Frame frame(37, 11, 8);
    frame.FillRandom(8);
    for (int i = 0; i < 256; ++i)
        frame.format.palette[i] = RGBQUAD{static_cast<BYTE>(i * 7), 0, static_cast<BYTE>(255 - i), 0};
    const CompressResult compressed = CompressFrame(codec.id(), frame);
    ASSERT_EQ(compressed.result, ICERR_OK);
    // The stream format carries the gray ramp, not the input's palette.
    EXPECT_EQ(compressed.frame.format.palette[9].rgbBlue, 9);

    // Any PNG viewer shows index i as gray level i.
    const ReferencePng png = ReadReferencePng(compressed.frame.bytes, SPNG_FMT_RGBA8);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.pixels[0], frame.rows[0]);
    EXPECT_EQ(png.pixels[1], frame.rows[0]);
    EXPECT_EQ(png.pixels[2], frame.rows[0]);

    const DecompressResult decompressed = DecompressFrame(codec.id(), compressed.frame);
    ASSERT_EQ(decompressed.result, ICERR_OK);
    for (int r = 0; r < 11; ++r)
        ASSERT_EQ(std::memcmp(decompressed.rows.data() + r * frame.RowBytes(), frame.Row(r), 37), 0);
}

TEST(RoundTrip, SixteenBitSamplesAreGrayInTheFile)
{
    CodecSession codec;
    Frame frame(3, 40, 16);
    frame.FillRandom(16);
    const CompressResult compressed = CompressFrame(codec.id(), frame);
    ASSERT_EQ(compressed.result, ICERR_OK);
    const ReferencePng png = ReadReferencePng(compressed.frame.bytes);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.ihdr.color_type, SPNG_COLOR_TYPE_GRAYSCALE);
    EXPECT_EQ(png.ihdr.bit_depth, 16);
    // PNG samples are big-endian; DIB samples little-endian.
    EXPECT_EQ(png.pixels[0], frame.rows[1]);
    EXPECT_EQ(png.pixels[1], frame.rows[0]);
}

TEST(RoundTrip, ShortFrameAfterLongFrameCopiesOnlyItsOwnBytes)
{
    CodecSession codec;
    Frame noisy(64, 64, 24);
    noisy.FillRandom(1);
    Frame flat(64, 64, 24);

    const CompressResult first = CompressFrame(codec.id(), noisy);
    const CompressResult second = CompressFrame(codec.id(), flat);
    ASSERT_EQ(first.result, ICERR_OK);
    ASSERT_EQ(second.result, ICERR_OK);
    ASSERT_LT(second.frame.bytes.size(), first.frame.bytes.size());

    const std::vector<uint8_t>& bytes = second.frame.bytes;
    const uint8_t iend[8] = {0, 0, 0, 0, 'I', 'E', 'N', 'D'};
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(std::memcmp(bytes.data() + bytes.size() - 12, iend, 8), 0);
    EXPECT_TRUE(ReadReferencePng(bytes).ok);

    const DecompressResult decompressed = DecompressFrame(codec.id(), second.frame);
    ASSERT_EQ(decompressed.result, ICERR_OK);
    EXPECT_EQ(decompressed.rows, flat.rows);
}

TEST(RoundTrip, FramesAreStandaloneAndRepeatable)
{
    // The same frame twice on one instance, and once on another, gives the
    // same bytes: nothing carries over from frame to frame.
    CodecSession a;
    CodecSession b;
    Frame frame(50, 30, 32);
    frame.FillRandom(3);
    const CompressResult one = CompressFrame(a.id(), frame);
    const CompressResult two = CompressFrame(a.id(), frame);
    const CompressResult three = CompressFrame(b.id(), frame);
    ASSERT_EQ(one.result, ICERR_OK);
    EXPECT_EQ(one.frame.bytes, two.frame.bytes);
    EXPECT_EQ(one.frame.bytes, three.frame.bytes);
}

TEST(RoundTrip, WholeHostSequence)
{
    // The messages in the order the video compression manager sends them.
    EXPECT_EQ(Send(0, DRV_LOAD), 1);
    EXPECT_EQ(Send(0, DRV_ENABLE), 1);
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = kFourccVidc;
    open.fccHandler = kFourccMpng;
    open.dwFlags = ICMODE_COMPRESS;
    open.dwError = 12345;
    const auto id = static_cast<DWORD_PTR>(Send(0, DRV_OPEN, 0, &open));
    ASSERT_NE(id, 0u);
    EXPECT_EQ(open.dwError, ICERR_OK);

    Frame frame(320, 240, 24);
    FormatBuffer compressedFormat{};
    EXPECT_EQ(Send(id, ICM_COMPRESS_QUERY, &frame.format, 0), ICERR_OK);
    ASSERT_EQ(Send(id, ICM_COMPRESS_GET_FORMAT, &frame.format, 0), 40);
    ASSERT_EQ(Send(id, ICM_COMPRESS_GET_FORMAT, &frame.format, &compressedFormat), ICERR_OK);
    EXPECT_EQ(Send(id, ICM_COMPRESS_QUERY, &frame.format, &compressedFormat), ICERR_OK);
    EXPECT_EQ(Send(id, ICM_COMPRESS_GET_SIZE, &frame.format, &compressedFormat), 2 * 320 * 240 * 3);
    EXPECT_EQ(Send(id, ICM_COMPRESS_BEGIN, &frame.format, &compressedFormat), ICERR_OK);
    std::vector<CompressedFrame> stream;
    for (uint32_t n = 0; n < 4; ++n) {
        frame.FillRandom(n);
        // Flat bands make the frames compressible, as real video is.
        std::memset(frame.rows.data(), static_cast<int>(n * 40), frame.rows.size() / 2);
        CompressResult compressed = CompressFrame(id, frame);
        ASSERT_EQ(compressed.result, ICERR_OK);
        stream.push_back(compressed.frame);
    }
    EXPECT_EQ(Send(id, ICM_COMPRESS_END), ICERR_OK);

    FormatBuffer outputFormat{};
    EXPECT_EQ(Send(id, ICM_DECOMPRESS_QUERY, &compressedFormat, 0), ICERR_OK);
    ASSERT_EQ(Send(id, ICM_DECOMPRESS_GET_FORMAT, &compressedFormat, &outputFormat), ICERR_OK);
    EXPECT_EQ(Send(id, ICM_DECOMPRESS_QUERY, &compressedFormat, &outputFormat), ICERR_OK);
    EXPECT_EQ(Send(id, ICM_DECOMPRESS_BEGIN, &compressedFormat, &outputFormat), ICERR_OK);
    for (uint32_t n = 0; n < stream.size(); ++n) {
        const DecompressResult decompressed = DecompressInto(
            id, stream[n].format.header, stream[n].bytes.data(), outputFormat.header);
        ASSERT_EQ(decompressed.result, ICERR_OK);
        frame.FillRandom(n);
        std::memset(frame.rows.data(), static_cast<int>(n * 40), frame.rows.size() / 2);
        EXPECT_EQ(decompressed.rows, frame.rows) << "frame " << n;
    }
    EXPECT_EQ(Send(id, ICM_DECOMPRESS_END), ICERR_OK);

    EXPECT_EQ(Send(id, DRV_CLOSE), 1);
    EXPECT_EQ(Send(0, DRV_DISABLE), 1);
    EXPECT_EQ(Send(0, DRV_FREE), 1);
}

}  // namespace
