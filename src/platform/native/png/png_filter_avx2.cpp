// AVX2 row filters, 32 bytes per step. Encoding reads only unfiltered
// bytes, so every byte of a row is independent and the whole row
// vectorises, paeth included. Compiled with function-level target
// attributes and picked at run time, so the library still runs without AVX2.
#include "platform/native/png/png_filter.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstdlib>
#include <cstring>

#define TALVEROX_AVX2 __attribute__((target("avx2")))

namespace {

// Bytes before the first full left neighbour: a and c are zero there.
// Each filter handles them, and the tail after the last full vector, in
// scalar code.
uint8_t ScalarPaeth(int a, int b, int c)
{
    int pa = std::abs(b - c);
    int pb = std::abs(a - c);
    int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

TALVEROX_AVX2 __m256i Load(const uint8_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TALVEROX_AVX2 void Store(uint8_t* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

void FilterNone(const uint8_t* cur, const uint8_t*, size_t size, size_t, uint8_t* out)
{
    std::memcpy(out, cur, size);
}

TALVEROX_AVX2 void FilterSub(const uint8_t* cur, const uint8_t*, size_t size, size_t bpp,
                             uint8_t* out)
{
    size_t i = 0;
    for (; i < bpp && i < size; ++i)
        out[i] = cur[i];
    for (; i + 32 <= size; i += 32)
        Store(out + i, _mm256_sub_epi8(Load(cur + i), Load(cur + i - bpp)));
    for (; i < size; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - cur[i - bpp]);
}

TALVEROX_AVX2 void FilterUp(const uint8_t* cur, const uint8_t* prev, size_t size, size_t,
                            uint8_t* out)
{
    size_t i = 0;
    for (; i + 32 <= size; i += 32)
        Store(out + i, _mm256_sub_epi8(Load(cur + i), Load(prev + i)));
    for (; i < size; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - prev[i]);
}

TALVEROX_AVX2 void FilterAverage(const uint8_t* cur, const uint8_t* prev, size_t size,
                                 size_t bpp, uint8_t* out)
{
    size_t i = 0;
    for (; i < bpp && i < size; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - (prev[i] >> 1));
    const __m256i one = _mm256_set1_epi8(1);
    for (; i + 32 <= size; i += 32) {
        __m256i a = Load(cur + i - bpp);
        __m256i b = Load(prev + i);
        // avg_epu8 rounds up; PNG's average rounds down.
        __m256i floorAvg =
            _mm256_sub_epi8(_mm256_avg_epu8(a, b), _mm256_and_si256(_mm256_xor_si256(a, b), one));
        Store(out + i, _mm256_sub_epi8(Load(cur + i), floorAvg));
    }
    for (; i < size; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - ((cur[i - bpp] + prev[i]) >> 1));
}

// Paeth's choice on 16 samples widened to 16 bits.
TALVEROX_AVX2 __m256i Paeth16(__m256i a, __m256i b, __m256i c)
{
    __m256i pa = _mm256_abs_epi16(_mm256_sub_epi16(b, c));
    __m256i pb = _mm256_abs_epi16(_mm256_sub_epi16(a, c));
    __m256i pc = _mm256_abs_epi16(_mm256_sub_epi16(_mm256_add_epi16(a, b), _mm256_add_epi16(c, c)));
    __m256i bOrC = _mm256_blendv_epi8(b, c, _mm256_cmpgt_epi16(pb, pc));
    __m256i notA = _mm256_cmpgt_epi16(pa, _mm256_min_epi16(pb, pc));
    return _mm256_blendv_epi8(a, bOrC, notA);
}

TALVEROX_AVX2 __m256i Widen(const uint8_t* p)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

TALVEROX_AVX2 void FilterPaeth(const uint8_t* cur, const uint8_t* prev, size_t size, size_t bpp,
                               uint8_t* out)
{
    size_t i = 0;
    // With no left neighbour the predictor is the byte above.
    for (; i < bpp && i < size; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - prev[i]);
    for (; i + 32 <= size; i += 32) {
        __m256i low = Paeth16(Widen(cur + i - bpp), Widen(prev + i), Widen(prev + i - bpp));
        __m256i high =
            Paeth16(Widen(cur + i + 16 - bpp), Widen(prev + i + 16), Widen(prev + i + 16 - bpp));
        // packus interleaves the 128-bit halves; the permute restores order.
        __m256i predicted = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
        Store(out + i, _mm256_sub_epi8(Load(cur + i), predicted));
    }
    for (; i < size; ++i)
        out[i] = static_cast<uint8_t>(cur[i] - ScalarPaeth(cur[i - bpp], prev[i], prev[i - bpp]));
}

TALVEROX_AVX2 uint64_t RowCost(const uint8_t* filtered, size_t size)
{
    __m256i sums = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + 32 <= size; i += 32) {
        __m256i magnitude = _mm256_abs_epi8(Load(filtered + i));
        sums = _mm256_add_epi64(sums, _mm256_sad_epu8(magnitude, _mm256_setzero_si256()));
    }
    alignas(32) uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sums);
    uint64_t sum = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    for (; i < size; ++i)
        sum += static_cast<uint64_t>(std::abs(static_cast<int8_t>(filtered[i])));
    return sum;
}

const PngFilterSet kAvx2 = {
    {FilterNone, FilterSub, FilterUp, FilterAverage, FilterPaeth},
    RowCost,
};

}  // namespace

const PngFilterSet* PngFiltersAvx2()
{
    return __builtin_cpu_supports("avx2") ? &kAvx2 : nullptr;
}

#else

const PngFilterSet* PngFiltersAvx2() { return nullptr; }

#endif
