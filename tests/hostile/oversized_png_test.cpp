// Pictures whose size does not fit the output: a few hundred bytes that
// claim 65535x65535 pixels must be refused before anything that size is
// allocated, and real pictures much larger or smaller than the output
// format write only the rows and bytes the output describes.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "tests/hostile/hostile.h"
#include "tests/hostile/png_bytes.h"

namespace {

using namespace png_bytes;

// The most memory the process has held at once, in bytes.
size_t PeakResidentBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<size_t>(usage.ru_maxrss) * 1024;
}

// Far below any buffer a 65535x65535 picture needs (537 MB at 1 bit per
// pixel, 17 GB at 32).
constexpr size_t kAllowedGrowth = 64u << 20;

struct Claim {
    const char* what;
    uint32_t width;
    uint32_t height;
    uint8_t bitDepth;
    uint8_t colorType;
    uint8_t interlace;
};

std::ostream& operator<<(std::ostream& out, const Claim& c) { return out << c.what; }

const Claim kClaims[] = {
    {"RGBA 65535x65535", 65535, 65535, 8, 6, 0},
    {"gray 1-bit 65535x65535", 65535, 65535, 1, 0, 0},
    {"RGB 16-bit 65535x65535 interlaced", 65535, 65535, 16, 2, 1},
    {"palette 65535x65535", 65535, 65535, 8, 3, 0},
    {"gray 2^31-1 wide", 0x7FFFFFFF, 1, 8, 0, 0},
    {"gray 2^31-1 tall", 1, 0x7FFFFFFF, 8, 0, 0},
    {"RGBA 2^31-1 square", 0x7FFFFFFF, 0x7FFFFFFF, 8, 6, 0},
};

class OversizedClaimTest : public testing::TestWithParam<Claim> {};

TEST_P(OversizedClaimTest, IsRefusedWithoutAllocatingThePicture)
{
    const Claim c = GetParam();
    // A real start of the picture: the first rows of zeros, compressed.
    const uint32_t rowBytes = c.width < 4096 ? c.width * 8 : 4096;
    const std::vector<uint8_t> idat = Zlib(Rows(rowBytes, 16, [](uint32_t, uint32_t) { return 0; }), 9);
    std::vector<uint8_t> palette;
    for (int i = 0; i < 3 * 256; ++i)
        palette.push_back(static_cast<uint8_t>(i));
    const std::vector<uint8_t> png =
        Png(Ihdr(c.width, c.height, c.bitDepth, c.colorType, c.interlace), idat,
            c.colorType == 3 ? palette : std::vector<uint8_t>{});
    ASSERT_LT(png.size(), 2000u) << "the claim should be cheap to make";

    CodecSession codec;
    const size_t before = PeakResidentBytes();
    // The host negotiated a small output; the frame claims far more.
    const DecompressResult result = DecodeInto(codec.id(), png, 64, 32, 32);
    const size_t after = PeakResidentBytes();

    EXPECT_EQ(result.result, ICERR_ERROR);
    EXPECT_TRUE(Untouched(result));
    EXPECT_TRUE(result.guardsIntact);
    EXPECT_LT(after - before, kAllowedGrowth) << "peak memory grew by " << (after - before) << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Claims, OversizedClaimTest, testing::ValuesIn(kClaims));

// A real picture far larger than the output in both directions: only the
// output's rows, and only the output's row length, are written.
TEST(OversizedPng, MuchLargerPictureFillsOnlyTheOutput)
{
    const uint32_t width = 3000;
    const uint32_t height = 2000;
    auto pixel = [](uint32_t x, uint32_t y) { return (x * 5 + y * 3) & 0xFF; };
    const std::vector<uint8_t> png = Png(Ihdr(width, height, 8, 0), Zlib(Rows(width, height, pixel), 1));

    CodecSession codec;
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{5, 3}, std::pair{3001, 1}, std::pair{1, 2001}}) {
        const DecompressResult result = DecodeInto(codec.id(), png, w, h, 8);
        ASSERT_EQ(result.result, ICERR_OK) << w << "x" << h;
        EXPECT_TRUE(result.guardsIntact) << w << "x" << h;
        const int32_t rowBytes = DibRowBytes(8, w);
        // Decoded rows are padded to 4 bytes; the copy takes the shorter row.
        const uint32_t copied = std::min<uint32_t>(rowBytes, (width + 3) & ~3u);
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* row = result.rows.data() + static_cast<size_t>(y) * rowBytes;
            if (y >= static_cast<int32_t>(height)) {
                for (int32_t x = 0; x < rowBytes; ++x)
                    ASSERT_EQ(row[x], kUntouched) << "row " << y << " beyond the picture";
                continue;
            }
            for (uint32_t x = 0; x < std::min<uint32_t>(copied, width); ++x)
                ASSERT_EQ(row[x], pixel(x, y)) << w << "x" << h << " at " << x << "," << y;
            for (uint32_t x = copied; x < static_cast<uint32_t>(rowBytes); ++x)
                ASSERT_EQ(row[x], kUntouched) << w << "x" << h << " past the decoded row at " << x;
        }
    }
}

TEST(OversizedPng, OnePixelIntoALargeOutputWritesOneRowOfFour)
{
    const std::vector<uint8_t> png = Png(Ihdr(1, 1, 8, 6), Zlib({0, 10, 20, 30, 40}));
    CodecSession codec;
    const DecompressResult result = DecodeInto(codec.id(), png, 640, 480, 32);
    ASSERT_EQ(result.result, ICERR_OK);
    EXPECT_TRUE(result.guardsIntact);
    EXPECT_EQ(result.rows[0], 30);  // blue
    EXPECT_EQ(result.rows[1], 20);
    EXPECT_EQ(result.rows[2], 10);
    EXPECT_EQ(result.rows[3], 40);  // alpha
    for (size_t i = 4; i < result.rows.size(); ++i)
        ASSERT_EQ(result.rows[i], kUntouched) << i;
}

TEST(OversizedPng, WidePictureIntoANarrowerDeeperOutput)
{
    // 24-bit rows of a 100-pixel picture into a 32-bit output of 10 pixels:
    // 40 bytes of each decoded row, raw, no conversion.
    const uint32_t width = 100;
    auto pixel = [](uint32_t x, uint32_t y) { return (x + 17 * y) & 0xFF; };
    const std::vector<uint8_t> png = Png(Ihdr(width, 4, 8, 2), Zlib(Rows(width * 3, 4, pixel)));
    CodecSession codec;
    const DecompressResult result = DecodeInto(codec.id(), png, 10, 4, 32);
    ASSERT_EQ(result.result, ICERR_OK);
    EXPECT_TRUE(result.guardsIntact);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t i = 0; i < 40; ++i) {
            const uint32_t x = i / 3;
            const uint32_t channel = 2 - i % 3;  // PNG RGB arrives as BGR
            ASSERT_EQ(result.rows[y * 40 + i], pixel(x * 3 + channel, y)) << y << "," << i;
        }
}

}  // namespace
