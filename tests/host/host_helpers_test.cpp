// The small pieces the commands lean on: option words, DIB layouts, PNG
// header reading, and the codec's answers in words.
#include <ostream>

#include <gtest/gtest.h>

#include "dib.h"
#include "options.h"
#include "png_header.h"

namespace {

TEST(Options, ValuesPositionalsAndHelp)
{
    const Options options =
        ParseOptions({"in.mkv", "--depth", "8", "out.avi", "--jobs=3", "-h"}, {"depth", "jobs"});
    EXPECT_EQ(options.positional, (std::vector<std::string>{"in.mkv", "out.avi"}));
    EXPECT_EQ(options.values.at("depth"), "8");
    EXPECT_EQ(options.values.at("jobs"), "3");
    EXPECT_TRUE(options.help);
    EXPECT_EQ(JobsOption(options), 3u);
}

TEST(Options, MistakesAreUsageErrors)
{
    EXPECT_THROW(ParseOptions({"--colour", "red"}, {"jobs"}), UsageError);
    EXPECT_THROW(ParseOptions({"in", "--jobs"}, {"jobs"}), UsageError);
    for (const char* jobs : {"0", "65", "2x", "", "-1"})
        EXPECT_THROW(JobsOption(ParseOptions({"--jobs", jobs}, {"jobs"})), UsageError) << jobs;
    EXPECT_GE(JobsOption(ParseOptions({}, {"jobs"})), 1u);
}

TEST(Options, SwitchesDashAndEndOfOptions)
{
    const Options options = ParseOptions({"-", "-y", "--flip", "--", "-n", "--jobs"}, {"jobs"},
                                         {"y", "n", "flip"});
    EXPECT_EQ(options.positional, (std::vector<std::string>{"-", "-n", "--jobs"}));
    EXPECT_TRUE(options.Has("y"));
    EXPECT_TRUE(options.Has("flip"));
    EXPECT_FALSE(options.Has("n"));
    EXPECT_THROW(ParseOptions({"-x"}, {}, {"y"}), UsageError);
    EXPECT_THROW(ParseOptions({"-yn"}, {}, {"y", "n"}), UsageError);
    EXPECT_THROW(ParseOptions({"--y"}, {}, {"y"}), UsageError) << "one letter takes one dash";
}

TEST(DibLayout, RowsArePaddedToFourBytes)
{
    EXPECT_EQ(DibRowBytes(24, 3), 12u);
    EXPECT_EQ(DibRowBytes(24, 1), 4u);
    EXPECT_EQ(DibRowBytes(8, 5), 8u);
    EXPECT_EQ(DibRowBytes(16, 3), 8u);
    EXPECT_EQ(DibRowBytes(32, 7), 28u);
    EXPECT_EQ(DibRowBytes(24, 1280), 3840u);
}

TEST(DibLayout, EightBitFormatCarriesTheGrayRamp)
{
    const DibFormat format = MakeRgbFormat(33, 17, 8);
    ASSERT_EQ(format.Size(), 1064u);
    EXPECT_EQ(format.Header()->biSizeImage, 36u * 17u);
    EXPECT_EQ(format.Header()->biHeight, 17);
    const uint8_t* entry200 = format.Bytes() + 40 + 4 * 200;
    EXPECT_EQ(entry200[0], 200);
    EXPECT_EQ(entry200[1], 200);
    EXPECT_EQ(entry200[2], 200);
    EXPECT_EQ(entry200[3], 0);
    EXPECT_EQ(MakeRgbFormat(33, 17, 24).Size(), 40u);
}

TEST(DibLayout, FormatsAreDescribedForErrors)
{
    DibFormat format = MakeRgbFormat(1280, 720, 24);
    EXPECT_EQ(DescribeFormat(*format.Header()), "1280x720x24 BI_RGB");
    format.Header()->biCompression = 0x47504A4D; // "MJPG"
    EXPECT_EQ(DescribeFormat(*format.Header()), "1280x720x24 'MJPG'");
}

std::vector<uint8_t> PngStart(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour)
{
    std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13,
                                  'I', 'H', 'D', 'R'};
    for (uint32_t value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<uint8_t>(value >> shift));
    bytes.insert(bytes.end(), {depth, colour, 0, 0, 0, 0, 0, 0, 0});
    return bytes;
}

struct PngDepthCase {
    uint8_t depth;
    uint8_t colour;
    uint32_t dib;
};

std::ostream& operator<<(std::ostream& out, const PngDepthCase& c)
{
    return out << "depth " << int{c.depth} << ", colour type " << int{c.colour};
}

class PngDepth : public ::testing::TestWithParam<PngDepthCase> {};

TEST_P(PngDepth, MapsToTheRowsTheCodecDecodes)
{
    const PngDepthCase c = GetParam();
    const std::vector<uint8_t> bytes = PngStart(300, 200, c.depth, c.colour);
    PngHeader header;
    ASSERT_TRUE(ReadPngHeader(bytes.data(), bytes.size(), header));
    EXPECT_EQ(header.width, 300u);
    EXPECT_EQ(header.height, 200u);
    EXPECT_EQ(DibDepthOfPng(header), c.dib);
}

INSTANTIATE_TEST_SUITE_P(Types, PngDepth,
                         ::testing::Values(PngDepthCase{8, 0, 8}, PngDepthCase{16, 0, 16},
                                           PngDepthCase{1, 0, 8}, PngDepthCase{8, 2, 24},
                                           PngDepthCase{8, 3, 8}, PngDepthCase{8, 4, 32},
                                           PngDepthCase{8, 6, 32}, PngDepthCase{8, 5, 0}));

TEST(PngHeaderRead, RefusesWhatIsNotAPng)
{
    PngHeader header;
    std::vector<uint8_t> bytes = PngStart(1, 1, 8, 2);
    EXPECT_FALSE(ReadPngHeader(bytes.data(), 28, header)); // cut inside IHDR
    bytes[1] = 'Q';
    EXPECT_FALSE(ReadPngHeader(bytes.data(), bytes.size(), header));
    bytes = PngStart(1, 1, 8, 2);
    bytes[12] = 'i';
    EXPECT_FALSE(ReadPngHeader(bytes.data(), bytes.size(), header));
    EXPECT_FALSE(ReadPngHeader(nullptr, 0, header));
}

} // namespace
