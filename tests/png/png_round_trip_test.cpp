// The PNG writer's output, read back by our reader, by its libspng
// fallback and by libspng as an independent judge of what the file says.
#include <gtest/gtest.h>
#include <spng.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "platform/png/png.h"
#include "platform/png/readers.h"

namespace {

struct Image {
    uint32_t width;
    uint32_t height;
    PngPixels pixels;
    size_t rowBytes;
    std::vector<uint8_t> bytes;  // rows `rowBytes + padding` apart

    ptrdiff_t Stride(size_t padding) const { return ptrdiff_t(rowBytes + padding); }
};

// Random pixels; smooth enough in places to exercise every filter choice.
std::vector<uint8_t> Pixels(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (i / 97) % 3 == 0 ? uint8_t(i * 7) : uint8_t(rng());
    return bytes;
}

// Rows as the decoded image holds them: `stride` apart, tight copy out.
std::vector<uint8_t> TightRows(const DecodedPng& png)
{
    const size_t rowBytes = size_t{png.width} * PngBytesPerPixel(png.pixels);
    std::vector<uint8_t> rows;
    for (uint32_t r = 0; r < png.height; ++r)
        rows.insert(rows.end(), png.rows.begin() + ptrdiff_t(r * png.stride),
                    png.rows.begin() + ptrdiff_t(r * png.stride + rowBytes));
    return rows;
}

// The file's samples as stored (SPNG_FMT_RAW: big-endian 16-bit), read by
// libspng without any of our code.
std::vector<uint8_t> StoredSamples(const std::vector<uint8_t>& png, spng_ihdr& ihdr)
{
    std::vector<uint8_t> out;
    spng_ctx* ctx = spng_ctx_new(0);
    size_t size = 0;
    if (spng_set_png_buffer(ctx, png.data(), png.size()) == 0 &&
        spng_get_ihdr(ctx, &ihdr) == 0 &&
        spng_decoded_image_size(ctx, SPNG_FMT_RAW, &size) == 0) {
        out.resize(size);
        if (spng_decode_image(ctx, out.data(), size, SPNG_FMT_RAW, 0) != 0)
            out.clear();
    }
    spng_ctx_free(ctx);
    return out;
}

// What the file must store for one tight row of memory pixels.
std::vector<uint8_t> ExpectedStored(PngPixels pixels, const std::vector<uint8_t>& tight)
{
    std::vector<uint8_t> out = tight;
    const size_t bpp = PngBytesPerPixel(pixels);
    for (size_t i = 0; i + bpp <= out.size(); i += bpp) {
        if (pixels == PngPixels::Gray16)
            std::swap(out[i], out[i + 1]);
        else if (pixels == PngPixels::Bgr24 || pixels == PngPixels::Bgra32)
            std::swap(out[i], out[i + 2]);
    }
    return out;
}

// EncodePng with DecodePng, which must keep every byte.
struct Pipeline {
    const char* name;
    bool (*encode)(const PngSource&, std::vector<uint8_t>&);
    bool (*decode)(const uint8_t*, size_t, DecodedPng&);
};

const Pipeline kPipelines[] = {
    {"EncodePng/DecodePng", EncodePng, DecodePng},
};

using Case = std::tuple<PngPixels, uint32_t, uint32_t>;

class PngRoundTrip : public testing::TestWithParam<Case> {};

TEST_P(PngRoundTrip, EveryByteComesBackAndTheFileSaysWhatItShould)
{
    const auto [pixels, width, height] = GetParam();
    const size_t rowBytes = size_t{width} * PngBytesPerPixel(pixels);
    for (const Pipeline& pipeline : kPipelines) {
        SCOPED_TRACE(pipeline.name);
        for (size_t padding : {size_t{0}, size_t{3}}) {
        for (bool bottomUp : {false, true}) {
            const ptrdiff_t stride = ptrdiff_t(rowBytes + padding);
            std::vector<uint8_t> memory = Pixels(size_t(stride) * height, width * 31 + height);
            const uint8_t* first =
                bottomUp ? memory.data() + size_t(stride) * (height - 1) : memory.data();
            PngSource source{width, height, pixels, first, bottomUp ? -stride : stride};
            // Rows in the order the writer reads them, tight.
            std::vector<uint8_t> tight;
            for (uint32_t r = 0; r < height; ++r) {
                const uint8_t* row = first + ptrdiff_t(r) * source.stride;
                tight.insert(tight.end(), row, row + rowBytes);
            }

            std::vector<uint8_t> png = {0xAB};  // the writers append
            ASSERT_TRUE(pipeline.encode(source, png));
            ASSERT_EQ(png[0], 0xAB);
            png.erase(png.begin());

            spng_ihdr ihdr{};
            ASSERT_EQ(StoredSamples(png, ihdr), ExpectedStored(pixels, tight));
            EXPECT_EQ(ihdr.width, width);
            EXPECT_EQ(ihdr.height, height);

            DecodedPng ours;
            ASSERT_TRUE(pipeline.decode(png.data(), png.size(), ours));
            EXPECT_EQ(ours.pixels, pixels);
            EXPECT_EQ(ours.stride % 4, 0u);
            EXPECT_EQ(TightRows(ours), tight);

            DecodedPng spngOnly;
            ASSERT_TRUE(pngcore::DecodeAnyPng(png.data(), png.size(), spngOnly));
            EXPECT_EQ(spngOnly.stride, ours.stride);
            EXPECT_EQ(spngOnly.rows, ours.rows);
        }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AwkwardSizes, PngRoundTrip,
    testing::Combine(testing::Values(PngPixels::Index8, PngPixels::Gray16, PngPixels::Bgr24,
                                     PngPixels::Bgra32),
                     testing::Values(1u, 2u, 3u, 5u, 7u, 33u, 1000u, 1921u),
                     testing::Values(1u, 2u, 7u)));

TEST(PngWriter, RefusesWhatCannotBeAnImageAndLeavesOutputAlone)
{
    uint8_t pixel[4] = {};
    const std::vector<uint8_t> before = {1, 2, 3};
    const PngSource refused[] = {
        {0, 1, PngPixels::Bgr24, pixel, 3},
        {1, 0, PngPixels::Bgr24, pixel, 3},
        {1, 1, PngPixels::Bgr24, nullptr, 3},
        {0x80000000u, 1, PngPixels::Index8, pixel, 1},
        {1, 0x80000000u, PngPixels::Index8, pixel, 0},
    };
    for (const PngSource& source : refused) {
        for (const Pipeline& pipeline : kPipelines) {
            std::vector<uint8_t> out = before;
            EXPECT_FALSE(pipeline.encode(source, out)) << pipeline.name;
            EXPECT_EQ(out, before) << pipeline.name;
        }
    }
}

TEST(PngWriter, IndexedFramesAreGrayLevelsInTheFile)
{
    uint8_t indices[4] = {0, 9, 200, 255};
    PngSource source{4, 1, PngPixels::Index8, indices, 4};
    for (const Pipeline& pipeline : kPipelines) {
    std::vector<uint8_t> png;
    ASSERT_TRUE(pipeline.encode(source, png));
    // Viewed as colour, index i is gray level i.
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, png.data(), png.size());
    uint8_t rgba[16] = {};
    ASSERT_EQ(spng_decode_image(ctx, rgba, sizeof rgba, SPNG_FMT_RGBA8, 0), 0);
    spng_ctx_free(ctx);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rgba[4 * i], indices[i]);
        EXPECT_EQ(rgba[4 * i + 1], indices[i]);
        EXPECT_EQ(rgba[4 * i + 2], indices[i]);
        EXPECT_EQ(rgba[4 * i + 3], 255);
    }
    }
}

TEST(PngWriter, EndsWithIendAndNothingAfter)
{
    uint8_t pixel[3] = {1, 2, 3};
    const uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    for (const Pipeline& pipeline : kPipelines) {
        std::vector<uint8_t> png;
        ASSERT_TRUE(pipeline.encode({1, 1, PngPixels::Bgr24, pixel, 3}, png));
        ASSERT_GE(png.size(), sizeof iend);
        EXPECT_EQ(std::memcmp(png.data() + png.size() - sizeof iend, iend, sizeof iend), 0)
            << pipeline.name;
    }
}

}  // namespace
