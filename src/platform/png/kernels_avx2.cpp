// AVX2 kernels: 32 bytes per step, including the Huffman coding of
// literals: codes and lengths come from 16-entry shuffles, are joined into
// 16-, 32- and 64-bit groups with variable shifts and put 4 bytes at a time.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>
#include <utility>

#include "platform/png/kernels.h"
#include "platform/png/portable_rows.h"
#include "platform/png/symbols.h"

namespace pngcore {
namespace {

#define FASTPNG_ATTR __attribute__((target("avx2")))
using V = __m256i;
constexpr size_t W = 32;
#define SET1(x) _mm256_set1_epi8(static_cast<char>(x))
#define ZERO() _mm256_setzero_si256()
#define LOADU(p) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))
#define STOREU(p, v) _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v)
#define TABLE(p) _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(p)))
#define AND _mm256_and_si256
#define XOR _mm256_xor_si256
#define ADD8 _mm256_add_epi8
#define SUB8 _mm256_sub_epi8
#define ADDSU8 _mm256_adds_epu8
#define MINU8 _mm256_min_epu8
#define MAXU8 _mm256_max_epu8
#define AVGU8 _mm256_avg_epu8
#define CMPEQ8 _mm256_cmpeq_epi8
#define BLENDV _mm256_blendv_epi8
#define SHUFFLE _mm256_shuffle_epi8
#define SRLI16 _mm256_srli_epi16
#define ADD64 _mm256_add_epi64
#define SAD(v) _mm256_sad_epu8(v, _mm256_setzero_si256())
#define HSUM64(v) HorizontalSum(v)

FASTPNG_ATTR inline uint64_t HorizontalSum(__m256i v)
{
    const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    // Through memory: the 64-bit lane moves do not exist in 32-bit mode.
    uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), s);
    return lanes[0] + lanes[1];
}

#include "platform/png/x86_rows.inc"


// BGR to RGB eight pixels per step: each 128-bit lane takes four pixels
// (the second lane those from byte 12) and the 32-byte store's last eight
// bytes are rewritten by the next step.
FASTPNG_ATTR void SwizzleAvx2(const uint8_t* src, uint8_t* dst, size_t bytes, PngPixels pixels)
{
    if (pixels != PngPixels::Bgr24)
        return SwizzleVec(src, dst, bytes, pixels);
    const V spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    const V order = _mm256_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15,
                                     2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    size_t i = 0;
    for (; i + 32 <= bytes; i += 24) {
        const V v = _mm256_permutevar8x32_epi32(LOADU(src + i), spread);
        const V swapped = SHUFFLE(v, order);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm256_castsi256_si128(swapped));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 12),
                         _mm256_extracti128_si256(swapped, 1));
    }
    SwizzleVec(src + i, dst + i, bytes - i, pixels);
}

// Joins per-byte codes (16-bit lanes) pairwise into 32- and then 64-bit
// lanes, each holding the bits of four consecutive bytes.
FASTPNG_ATTR inline void JoinCodes(__m256i code16, __m256i length16, __m256i& code64,
                                   __m256i& length64)
{
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i lengthEven = _mm256_and_si256(length16, low16);
    const __m256i code32 = _mm256_or_si256(
        _mm256_and_si256(code16, low16),
        _mm256_sllv_epi32(_mm256_srli_epi32(code16, 16), lengthEven));
    const __m256i length32 = _mm256_add_epi32(lengthEven, _mm256_srli_epi32(length16, 16));
    const __m256i low32 = _mm256_set1_epi64x(0xFFFFFFFF);
    const __m256i length32Even = _mm256_and_si256(length32, low32);
    code64 = _mm256_or_si256(_mm256_and_si256(code32, low32),
                             _mm256_sllv_epi64(_mm256_srli_epi64(code32, 32), length32Even));
    length64 = _mm256_add_epi64(length32Even, _mm256_srli_epi64(length32, 32));
}

FASTPNG_ATTR void EncodeBytesAvx2(const uint8_t* data, size_t n, const FrameCode& code,
                                  RunState& run, BitWriter& writer)
{
    const LiteralTables& t = code.literals;
    const V tLowCode = TABLE(t.lowCode), tLowLength = TABLE(t.lowLength);
    const V tHighCode = TABLE(t.highCode), tHighLength = TABLE(t.highLength);
    const V tPrefixLo = TABLE(t.prefixLo), tPrefixHi = TABLE(t.prefixHi);
    const V tGroupLength = TABLE(t.groupLength), tReverse4 = TABLE(t.reverse4);
    const V tShiftLo = TABLE(t.shiftLo), tShiftHi = TABLE(t.shiftHi);
    const V nibble = SET1(0x0F);
    const V ramp = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                    18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    // A local writer stays in registers: stores through the caller's could
    // alias it.
    BitWriter out = writer;
    BitSink sink{code, out};
    alignas(32) uint64_t codes[2][4], lengths[2][4];

    for (size_t pos = 0; pos < n; pos += kChunk) {
        const size_t k = n - pos < kChunk ? n - pos : kChunk;
        const V v = LOADU(data + pos);
        const uint32_t all = k == 32 ? ~0u : (1u << k) - 1;
        const uint32_t zeros =
            static_cast<uint32_t>(_mm256_movemask_epi8(CMPEQ8(v, ZERO()))) & all;
        unsigned start, end;
        if (!PlanChunk(zeros, k, run, sink, start, end))
            continue;
        const V keep = _mm256_andnot_si256(
            _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(start)), ramp),
            _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(end)), ramp));

        const V lo = AND(v, nibble);
        const V hi = AND(SRLI16(v, 4), nibble);
        const V isLow0 = CMPEQ8(hi, ZERO());
        const V isHigh = CMPEQ8(hi, nibble);
        V first = BLENDV(SHUFFLE(tPrefixLo, hi), SHUFFLE(tLowCode, lo), isLow0);
        first = AND(BLENDV(first, SHUFFLE(tHighCode, lo), isHigh), keep);
        const V firstHi = AND(SHUFFLE(tPrefixHi, hi), keep);
        V length = BLENDV(SHUFFLE(tGroupLength, hi), SHUFFLE(tLowLength, lo), isLow0);
        length = AND(BLENDV(length, SHUFFLE(tHighLength, lo), isHigh), keep);
        const V suffix = _mm256_andnot_si256(_mm256_or_si256(isLow0, isHigh),
                                             AND(SHUFFLE(tReverse4, lo), keep));
        const V shiftLo = SHUFFLE(tShiftLo, hi), shiftHi = SHUFFLE(tShiftHi, hi);

        // Bytes 0-7 and 16-23 widen through unpacklo, 8-15 and 24-31
        // through unpackhi.
        for (int half = 0; half < 2; ++half) {
            const V zero = ZERO();
            V code16, length16, shift16, suffix16;
            if (half == 0) {
                code16 = _mm256_unpacklo_epi8(first, firstHi);
                length16 = _mm256_unpacklo_epi8(length, zero);
                shift16 = _mm256_unpacklo_epi8(shiftLo, shiftHi);
                suffix16 = _mm256_unpacklo_epi8(suffix, zero);
            } else {
                code16 = _mm256_unpackhi_epi8(first, firstHi);
                length16 = _mm256_unpackhi_epi8(length, zero);
                shift16 = _mm256_unpackhi_epi8(shiftLo, shiftHi);
                suffix16 = _mm256_unpackhi_epi8(suffix, zero);
            }
            code16 = _mm256_or_si256(code16, _mm256_mullo_epi16(suffix16, shift16));
            V code64, length64;
            JoinCodes(code16, length16, code64, length64);
            _mm256_store_si256(reinterpret_cast<__m256i*>(codes[half]), code64);
            _mm256_store_si256(reinterpret_cast<__m256i*>(lengths[half]), length64);
        }
        // Eight bytes to a put where their codes fit in one: half the
        // chain of dependent shifts that bounds this loop.
        static constexpr uint8_t kOrder[4][2] = {{0, 0}, {1, 0}, {0, 2}, {1, 2}};
        for (const auto& [half, lane] : kOrder) {
            const uint64_t code0 = codes[half][lane], code1 = codes[half][lane + 1];
            const unsigned length0 = static_cast<unsigned>(lengths[half][lane]);
            const unsigned length1 = static_cast<unsigned>(lengths[half][lane + 1]);
            if (length0 + length1 <= 56) {
                out.Put(code0 | code1 << length0, length0 + length1);
            } else {
                out.Put(code0, length0);
                out.Put(code1, length1);
            }
        }
    }
    writer = out;
}

} // namespace

const FastKernels kAvx2Kernels = {
    SwizzleAvx2,
    FilterCostsVec,
    FilterRowVec,
    EncodeBytesAvx2,
    UnfilterRowVec,
    UnfilterRowsVec,
    true,
};

} // namespace pngcore

#endif
