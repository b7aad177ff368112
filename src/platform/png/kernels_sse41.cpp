// SSE4.1 kernels: 16 bytes per step. Huffman coding stays scalar here.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>
#include <utility>

#include "platform/png/kernels.h"
#include "platform/png/portable_rows.h"
#include "platform/png/symbols.h"

namespace pngcore {
namespace {

#define FASTPNG_ATTR __attribute__((target("sse4.1")))
using V = __m128i;
constexpr size_t W = 16;
#define SET1(x) _mm_set1_epi8(static_cast<char>(x))
#define ZERO() _mm_setzero_si128()
#define LOADU(p) _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))
#define STOREU(p, v) _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v)
#define TABLE(p) _mm_load_si128(reinterpret_cast<const __m128i*>(p))
#define AND _mm_and_si128
#define XOR _mm_xor_si128
#define ADD8 _mm_add_epi8
#define SUB8 _mm_sub_epi8
#define ADDSU8 _mm_adds_epu8
#define MINU8 _mm_min_epu8
#define MAXU8 _mm_max_epu8
#define AVGU8 _mm_avg_epu8
#define CMPEQ8 _mm_cmpeq_epi8
#define BLENDV _mm_blendv_epi8
#define SHUFFLE _mm_shuffle_epi8
#define SRLI16 _mm_srli_epi16
#define ADD64 _mm_add_epi64
#define SAD(v) _mm_sad_epu8(v, _mm_setzero_si128())
#define HSUM64(v) HorizontalSum(v)

// Through memory: the 64-bit lane moves do not exist in 32-bit mode.
FASTPNG_ATTR inline uint64_t HorizontalSum(__m128i v)
{
    uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), v);
    return lanes[0] + lanes[1];
}

#include "platform/png/x86_rows.inc"


void EncodeBytes(const uint8_t* data, size_t n, const FrameCode& code, RunState& run,
                 BitWriter& writer)
{
    BitSink sink{code, writer};
    EncodeBytesScalar(data, n, run, sink);
}

} // namespace

const FastKernels kSse41Kernels = {
    SwizzleVec,
    FilterCostsVec,
    FilterRowVec,
    EncodeBytes,
    UnfilterRowVec,
    UnfilterRowsVec,
    UnfilterUpIntoVec,
    true,
    false,
};

} // namespace pngcore

#endif
