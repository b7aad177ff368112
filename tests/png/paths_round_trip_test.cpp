// Every path, layout and kind of content, at sizes that end rows and
// images inside, at and just past vector widths: libspng and the fast
// reader must give back the exact pixels, and every path must write the
// same bytes as the portable one.
#include <gtest/gtest.h>

#include <tuple>

#include "test_frames.h"

namespace {

constexpr uint32_t kWidths[] = {1, 2, 3, 5, 7, 8, 10, 11, 15, 16, 17, 21, 31, 32, 33, 47, 63, 64, 65, 70};
constexpr uint32_t kHeights[] = {1, 2, 3, 9, 33};

std::vector<uint8_t> Encode(const Frame& frame, PngSimdPath path)
{
    ForcedPath forced(path);
    std::vector<uint8_t> png;
    EXPECT_TRUE(EncodePng(frame.Source(), png));
    return png;
}

void CheckFrame(const Frame& frame)
{
    SCOPED_TRACE(testing::Message() << frame.width << "x" << frame.height);
    const std::vector<uint8_t> reference = Encode(frame, PngSimdPath::Portable);
    DecodedPng bySpng;
    ASSERT_TRUE(ReferenceDecode(reference.data(), reference.size(), bySpng));
    EXPECT_TRUE(SamePixels(frame, bySpng));
    for (PngSimdPath path : AvailablePaths()) {
        SCOPED_TRACE(PathName(path));
        EXPECT_EQ(Encode(frame, path), reference);
        ForcedPath forced(path);
        DecodedPng byFast;
        ASSERT_TRUE(pngcore::DecodePlainPng(reference.data(), reference.size(), byFast));
        EXPECT_TRUE(SamePixels(frame, byFast));
        EXPECT_EQ(byFast.stride % 4, 0u);
    }
}

using Case = std::tuple<PngPixels, Content>;

class RoundTrip : public testing::TestWithParam<Case> {};

TEST_P(RoundTrip, SmallSizesAcrossVectorTails)
{
    const auto [pixels, content] = GetParam();
    uint32_t seed = 1;
    for (uint32_t width : kWidths) {
        for (uint32_t height : kHeights)
            CheckFrame(MakeFrame(width, height, pixels, content, seed++));
    }
}

TEST_P(RoundTrip, FullHdWidth)
{
    const auto [pixels, content] = GetParam();
    CheckFrame(MakeFrame(1920, 24, pixels, content, 7));
    CheckFrame(MakeFrame(1919, 5, pixels, content, 8));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RoundTrip,
    testing::Combine(testing::Values(PngPixels::Index8, PngPixels::Gray16, PngPixels::Bgr24,
                                     PngPixels::Bgra32),
                     testing::Values(Content::Random, Content::Flat, Content::Gradient,
                                     Content::Photo, Content::Text, Content::Sparse,
                                     Content::Smooth)),
    [](const testing::TestParamInfo<Case>& param) {
        return std::string(PixelsName(std::get<0>(param.param))) + "_" +
               ContentName(std::get<1>(param.param));
    });

TEST(RoundTripPaths, EveryPathReportsItself)
{
    for (PngSimdPath path : AvailablePaths())
        EXPECT_EQ(PngForceSimdPath(path), path);
    PngForceSimdPath(PngBestSimdPath());
}

} // namespace
