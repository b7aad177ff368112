#include "platform/native/png/png_filter.h"

#include <cstdlib>

namespace {

uint8_t PaethPredict(int a, int b, int c)
{
    int pa = std::abs(b - c);
    int pb = std::abs(a - c);
    int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

void FilterNone(const uint8_t* cur, const uint8_t*, size_t size, size_t, uint8_t* out)
{
    for (size_t i = 0; i < size; ++i)
        out[i] = cur[i];
}

void FilterSub(const uint8_t* cur, const uint8_t*, size_t size, size_t bpp, uint8_t* out)
{
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - (i >= bpp ? cur[i - bpp] : 0));
}

void FilterUp(const uint8_t* cur, const uint8_t* prev, size_t size, size_t, uint8_t* out)
{
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - prev[i]);
}

void FilterAverage(const uint8_t* cur, const uint8_t* prev, size_t size, size_t bpp, uint8_t* out)
{
    for (size_t i = 0; i < size; ++i) {
        int left = i >= bpp ? cur[i - bpp] : 0;
        out[i] = static_cast<uint8_t>(cur[i] - ((left + prev[i]) >> 1));
    }
}

void FilterPaeth(const uint8_t* cur, const uint8_t* prev, size_t size, size_t bpp, uint8_t* out)
{
    for (size_t i = 0; i < size; ++i) {
        int a = i >= bpp ? cur[i - bpp] : 0;
        int c = i >= bpp ? prev[i - bpp] : 0;
        out[i] = static_cast<uint8_t>(cur[i] - PaethPredict(a, prev[i], c));
    }
}

uint64_t RowCost(const uint8_t* filtered, size_t size)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum += static_cast<uint64_t>(std::abs(static_cast<int8_t>(filtered[i])));
    return sum;
}

const PngFilterSet kPortable = {
    {FilterNone, FilterSub, FilterUp, FilterAverage, FilterPaeth},
    RowCost,
};

}  // namespace

const PngFilterSet& PngFiltersPortable() { return kPortable; }

const PngFilterSet& PngFilters()
{
    static const PngFilterSet* const best = [] {
        const PngFilterSet* avx2 = PngFiltersAvx2();
        return avx2 != nullptr ? avx2 : &kPortable;
    }();
    return *best;
}
