#include "platform/native/png/png_unfilter.h"

#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TALVEROX_HAVE_SSE41_PATH 1
#endif

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

void UnfilterPaethScalar(uint8_t* row, const uint8_t* prev, size_t size, size_t bpp)
{
    size_t i = 0;
    for (; i < bpp && i < size; ++i)
        row[i] = static_cast<uint8_t>(row[i] + prev[i]);
    for (; i < size; ++i)
        row[i] = static_cast<uint8_t>(row[i] + PaethPredict(row[i - bpp], prev[i], prev[i - bpp]));
}

#if TALVEROX_HAVE_SSE41_PATH

#define TALVEROX_SSE41 __attribute__((target("sse4.1")))

TALVEROX_SSE41 __m128i Load4(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtepu8_epi16(_mm_cvtsi32_si128(v));
}

// One pixel per step: a (left, decoded), b (above), c (above left) in
// 16-bit lanes. Reads 4 bytes per pixel even for 3-byte pixels, which is
// why callers leave 4 readable bytes after the row; writes only `bpp`.
template <size_t kBpp>
TALVEROX_SSE41 void UnfilterPaethSse41(uint8_t* row, const uint8_t* prev, size_t size)
{
    __m128i a = _mm_setzero_si128();
    __m128i c = _mm_setzero_si128();
    for (size_t i = 0; i + kBpp <= size; i += kBpp) {
        __m128i b = Load4(prev + i);
        __m128i pa = _mm_abs_epi16(_mm_sub_epi16(b, c));
        __m128i pb = _mm_abs_epi16(_mm_sub_epi16(a, c));
        __m128i pc = _mm_abs_epi16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
        __m128i bOrC = _mm_blendv_epi8(b, c, _mm_cmpgt_epi16(pb, pc));
        __m128i notA = _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc));
        __m128i predicted = _mm_blendv_epi8(a, bOrC, notA);
        __m128i decoded = _mm_and_si128(_mm_add_epi16(Load4(row + i), predicted),
                                        _mm_set1_epi16(0xFF));
        int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(decoded, decoded));
        std::memcpy(row + i, &bytes, kBpp);
        a = decoded;
        c = b;
    }
}

bool HasSse41()
{
    static const bool has = __builtin_cpu_supports("sse4.1");
    return has;
}

#endif

}  // namespace

bool UnfilterRow(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t size, size_t bpp)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (size_t i = bpp; i < size; ++i)
            row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
        return true;
    case 2:
        for (size_t i = 0; i < size; ++i)
            row[i] = static_cast<uint8_t>(row[i] + prev[i]);
        return true;
    case 3:
        for (size_t i = 0; i < size; ++i) {
            int left = i >= bpp ? row[i - bpp] : 0;
            row[i] = static_cast<uint8_t>(row[i] + ((left + prev[i]) >> 1));
        }
        return true;
    case 4:
#if TALVEROX_HAVE_SSE41_PATH
        if (HasSse41() && size % bpp == 0) {
            if (bpp == 3) {
                UnfilterPaethSse41<3>(row, prev, size);
                return true;
            }
            if (bpp == 4) {
                UnfilterPaethSse41<4>(row, prev, size);
                return true;
            }
        }
#endif
        UnfilterPaethScalar(row, prev, size, bpp);
        return true;
    default:
        return false;
    }
}
