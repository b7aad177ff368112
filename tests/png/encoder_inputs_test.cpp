// What the writer does with the rows and sizes it is handed.
#include <gtest/gtest.h>

#include <cstring>

#include "test_frames.h"

namespace {

TEST(EncoderInputs, ZeroSizedImagesAreRefusedAndOutputKept)
{
    const uint8_t pixel[4] = {};
    std::vector<uint8_t> out = {1, 2, 3};
    EXPECT_FALSE(EncodePng({0, 1, PngPixels::Bgr24, pixel, 3}, out));
    EXPECT_FALSE(EncodePng({1, 0, PngPixels::Bgr24, pixel, 3}, out));
    EXPECT_FALSE(EncodePng({1, 1, PngPixels::Bgr24, nullptr, 3}, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(EncoderInputs, SizesBeyondPngAreRefused)
{
    const uint8_t pixel[4] = {};
    std::vector<uint8_t> out;
    EXPECT_FALSE(EncodePng({0x80000000u, 1, PngPixels::Index8, pixel, 0}, out));
    EXPECT_FALSE(EncodePng({1, 0x80000000u, PngPixels::Index8, pixel, 0}, out));
    EXPECT_TRUE(out.empty());
}

TEST(EncoderInputs, AppendsAfterWhatOutputHolds)
{
    const Frame frame = MakeFrame(13, 7, PngPixels::Bgr24, Content::Photo);
    std::vector<uint8_t> alone, appended = {9, 9};
    ASSERT_TRUE(EncodePng(frame.Source(), alone));
    ASSERT_TRUE(EncodePng(frame.Source(), appended));
    ASSERT_EQ(appended.size(), alone.size() + 2);
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), appended.begin() + 2));
}

TEST(EncoderInputs, NegativeStrideWritesRowsInThatOrder)
{
    const Frame frame = MakeFrame(19, 6, PngPixels::Bgra32, Content::Random, 3);
    PngSource bottomUp = frame.Source();
    bottomUp.firstRow = frame.Row(frame.height - 1);
    bottomUp.stride = -static_cast<ptrdiff_t>(frame.stride);
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodePng(bottomUp, png));
    DecodedPng decoded;
    ASSERT_TRUE(ReferenceDecode(png.data(), png.size(), decoded));
    for (uint32_t y = 0; y < frame.height; ++y) {
        EXPECT_EQ(std::memcmp(decoded.rows.data() + y * decoded.stride,
                              frame.Row(frame.height - 1 - y), frame.RowBytes()),
                  0);
    }
}

TEST(EncoderInputs, ReadsNoByteOutsideTheRows)
{
    // Rows of exactly their size, each in its own allocation end to end,
    // so that AddressSanitizer sees any read past a row.
    for (PngPixels pixels : {PngPixels::Index8, PngPixels::Gray16, PngPixels::Bgr24, PngPixels::Bgra32}) {
        for (PngSimdPath path : AvailablePaths()) {
            ForcedPath forced(path);
            const uint32_t width = 37;
            const size_t rowBytes = width * PngBytesPerPixel(pixels);
            std::vector<uint8_t> exact(rowBytes);
            for (size_t i = 0; i < exact.size(); ++i)
                exact[i] = static_cast<uint8_t>(i * 7);
            std::vector<uint8_t> png;
            ASSERT_TRUE(EncodePng({width, 3, pixels, exact.data(), 0}, png));
            DecodedPng decoded;
            ASSERT_TRUE(pngcore::DecodePlainPng(png.data(), png.size(), decoded));
            for (uint32_t y = 0; y < 3; ++y)
                EXPECT_EQ(std::memcmp(decoded.rows.data() + y * decoded.stride, exact.data(), rowBytes), 0);
        }
    }
}

TEST(EncoderInputs, FlatAndTextFramesStaySmall)
{
    // Content that match search handles far better must not come out at
    // match-free sizes.
    const Frame flat = MakeFrame(640, 64, PngPixels::Bgr24, Content::Flat);
    const Frame text = MakeFrame(640, 64, PngPixels::Bgr24, Content::Text);
    std::vector<uint8_t> flatPng, textPng;
    ASSERT_TRUE(EncodePng(flat.Source(), flatPng));
    ASSERT_TRUE(EncodePng(text.Source(), textPng));
    EXPECT_LT(flatPng.size(), 640u * 64 * 3 / 200);
    EXPECT_LT(textPng.size(), 640u * 64 * 3 / 20);
    DecodedPng decoded;
    ASSERT_TRUE(ReferenceDecode(textPng.data(), textPng.size(), decoded));
    EXPECT_TRUE(SamePixels(text, decoded));
}

} // namespace
