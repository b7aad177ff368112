// Row filters: the AVX2 set gives the portable set's bytes, and unfiltering
// restores every row.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/native/png/png_filter.h"
#include "platform/native/png/png_unfilter.h"

namespace {

struct Rows {
    std::vector<uint8_t> prev;
    std::vector<uint8_t> cur;
};

Rows RandomRows(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Rows rows{std::vector<uint8_t>(size), std::vector<uint8_t>(size)};
    for (size_t i = 0; i < size; ++i) {
        // Extremes matter for paeth's ties and average's rounding.
        rows.prev[i] = i % 5 == 0 ? 255 : uint8_t(rng());
        rows.cur[i] = i % 7 == 0 ? 0 : uint8_t(rng());
    }
    return rows;
}

const size_t kSizes[] = {1, 2, 3, 4, 8, 31, 32, 33, 35, 64, 95, 100, 257};
const size_t kBpps[] = {1, 2, 3, 4, 6, 8};

TEST(PngFilter, Avx2MatchesPortableForEveryFilterSizeAndPixelWidth)
{
    const PngFilterSet* avx2 = PngFiltersAvx2();
    if (avx2 == nullptr)
        GTEST_SKIP() << "CPU lacks AVX2";
    const PngFilterSet& portable = PngFiltersPortable();
    for (size_t size : kSizes) {
        for (size_t bpp : kBpps) {
            Rows rows = RandomRows(size, uint32_t(size * 10 + bpp));
            for (size_t k = 0; k < kPngFilterCount; ++k) {
                std::vector<uint8_t> a(size), b(size);
                portable.row[k](rows.cur.data(), rows.prev.data(), size, bpp, a.data());
                avx2->row[k](rows.cur.data(), rows.prev.data(), size, bpp, b.data());
                ASSERT_EQ(a, b) << "filter " << k << " size " << size << " bpp " << bpp;
                EXPECT_EQ(portable.cost(a.data(), size), avx2->cost(a.data(), size));
            }
        }
    }
}

TEST(PngFilter, UnfilterRestoresEveryFilteredRow)
{
    const PngFilterSet& filters = PngFilters();
    for (size_t size : kSizes) {
        for (size_t bpp : kBpps) {
            Rows rows = RandomRows(size, uint32_t(size + bpp));
            for (size_t k = 0; k < kPngFilterCount; ++k) {
                // Four spare bytes after the row, as the unfilter asks.
                std::vector<uint8_t> row(size + 4, 0xEE);
                std::vector<uint8_t> prev = rows.prev;
                prev.resize(size + 4, 0xDD);
                filters.row[k](rows.cur.data(), rows.prev.data(), size, bpp, row.data());
                ASSERT_TRUE(UnfilterRow(uint8_t(k), row.data(), prev.data(), size, bpp));
                ASSERT_EQ(std::vector<uint8_t>(row.begin(), row.begin() + ptrdiff_t(size)),
                          rows.cur)
                    << "filter " << k << " size " << size << " bpp " << bpp;
                // The spare bytes are read, never written.
                EXPECT_EQ(row[size], 0xEE);
            }
        }
    }
}

TEST(PngFilter, UnknownFilterTypeIsRefused)
{
    std::vector<uint8_t> row(8), prev(8);
    for (int type : {5, 6, 255})
        EXPECT_FALSE(UnfilterRow(uint8_t(type), row.data(), prev.data(), 4, 1));
}

TEST(PngFilter, CostCountsMagnitudesAsSignedBytes)
{
    const uint8_t residuals[] = {0, 1, 255, 128, 127, 0x81};
    // 0 + 1 + 1 + 128 + 127 + 127
    EXPECT_EQ(PngFilters().cost(residuals, sizeof residuals), 384u);
    EXPECT_EQ(PngFiltersPortable().cost(residuals, sizeof residuals), 384u);
}

}  // namespace
