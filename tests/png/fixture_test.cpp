// PNGs written by another encoder (tests/fixtures/png, made with Python's
// zlib): every colour type and depth, palettes with and without tRNS,
// Adam7, split IDAT. Each must decode to its .raw file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/png/png.h"
#include "platform/png/readers.h"

namespace {

const std::string kDir = std::string(TALVEROX_FIXTURES) + "/png/";

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Fixture {
    std::string name;
    uint32_t width;
    uint32_t height;
    std::string layout;
};

std::vector<Fixture> Manifest()
{
    std::vector<Fixture> fixtures;
    std::ifstream in(kDir + "fixtures.txt");
    Fixture f;
    while (in >> f.name >> f.width >> f.height >> f.layout)
        fixtures.push_back(f);
    return fixtures;
}

PngPixels LayoutOf(const std::string& name)
{
    if (name == "Index8")
        return PngPixels::Index8;
    if (name == "Gray16")
        return PngPixels::Gray16;
    if (name == "Bgr24")
        return PngPixels::Bgr24;
    return PngPixels::Bgra32;
}

TEST(PngFixtures, ManifestIsComplete)
{
    EXPECT_GE(Manifest().size(), 28u);
}

class PngFixture : public testing::TestWithParam<Fixture> {};

TEST_P(PngFixture, DecodesToTheExpectedPixels)
{
    const Fixture& f = GetParam();
    const std::vector<uint8_t> png = ReadFile(kDir + f.name + ".png");
    const std::vector<uint8_t> raw = ReadFile(kDir + f.name + ".raw");
    ASSERT_FALSE(png.empty());
    const size_t rowBytes = size_t{f.width} * PngBytesPerPixel(LayoutOf(f.layout));
    ASSERT_EQ(raw.size(), rowBytes * f.height);

    struct Reader {
        const char* name;
        bool (*decode)(const uint8_t*, size_t, DecodedPng&);
    };
    for (Reader reader : {Reader{"DecodePng", DecodePng},
                          Reader{"libspng", pngcore::DecodeAnyPng}}) {
        SCOPED_TRACE(reader.name);
        DecodedPng decoded;
        ASSERT_TRUE(reader.decode(png.data(), png.size(), decoded));
        EXPECT_EQ(decoded.width, f.width);
        EXPECT_EQ(decoded.height, f.height);
        ASSERT_EQ(decoded.pixels, LayoutOf(f.layout));
        ASSERT_EQ(decoded.stride % 4, 0u);
        ASSERT_GE(decoded.rows.size(), decoded.stride * f.height);
        for (uint32_t r = 0; r < f.height; ++r) {
            std::vector<uint8_t> got(decoded.rows.begin() + ptrdiff_t(r * decoded.stride),
                                     decoded.rows.begin() + ptrdiff_t(r * decoded.stride + rowBytes));
            std::vector<uint8_t> want(raw.begin() + ptrdiff_t(r * rowBytes),
                                      raw.begin() + ptrdiff_t((r + 1) * rowBytes));
            ASSERT_EQ(got, want) << f.name << " row " << r;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Written, PngFixture, testing::ValuesIn(Manifest()),
                         [](const testing::TestParamInfo<Fixture>& param) {
                             return param.param.name;
                         });

}  // namespace
