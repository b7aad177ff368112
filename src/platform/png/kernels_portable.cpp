// Plain C++ kernels: the reference every vector path must match byte for
// byte, and the path on processors without SSE4.1.
#include <cstdlib>

#include "platform/png/kernels.h"
#include "platform/png/portable_rows.h"
#include "platform/png/symbols.h"

namespace pngcore {

namespace {

// Byte i of the row under each filter. Bytes left of the row read as zero:
// rows carry zero padding.
inline void FilterByte(const uint8_t* cur, const uint8_t* prev, size_t i, size_t bpp,
                       uint8_t r[kFilterCount])
{
    const uint8_t x = cur[i];
    const uint8_t a = *(cur + i - bpp);
    const uint8_t b = prev[i];
    const uint8_t c = *(prev + i - bpp);
    r[0] = x;
    r[1] = static_cast<uint8_t>(x - a);
    r[2] = static_cast<uint8_t>(x - b);
    r[3] = static_cast<uint8_t>(x - ((a + b) >> 1));
    r[4] = static_cast<uint8_t>(x - PaethPredictor(a, b, c));
}

void FilterCosts(const uint8_t* cur, const uint8_t* prev, size_t n, size_t bpp,
                 const LiteralTables& costs, uint64_t cost[kFilterCount])
{
    uint64_t sum[kFilterCount] = {};
    for (size_t block = 0; block < n; block += kCostedStride) {
        for (size_t i = block; i < block + kCostedBytes && i < n; ++i) {
            uint8_t r[kFilterCount];
            FilterByte(cur, prev, i, bpp, r);
            for (size_t f = 0; f < kFilterCount; ++f)
                sum[f] += costs.length[r[f]];
        }
    }
    for (size_t f = 0; f < kFilterCount; ++f)
        cost[f] = sum[f];
}

void FilterRow(uint8_t filter, const uint8_t* cur, const uint8_t* prev, size_t n, size_t bpp,
               uint8_t* out)
{
    for (size_t i = 0; i < n; ++i) {
        uint8_t r[kFilterCount];
        FilterByte(cur, prev, i, bpp, r);
        out[i] = r[filter];
    }
}

void EncodeBytes(const uint8_t* data, size_t n, const FrameCode& code, RunState& run,
                 BitWriter& writer)
{
    BitSink sink{code, writer};
    EncodeBytesScalar(data, n, run, sink);
}

} // namespace

const FastKernels kPortableKernels = {
    SwizzlePortable,
    FilterCosts,
    FilterRow,
    EncodeBytes,
    UnfilterRowPortable,
    [](const uint8_t*, uint8_t* const*, size_t, const uint8_t*, size_t, size_t) -> size_t { return 0; },
    UnfilterUpIntoPortable,
    false,
    false,
};

} // namespace pngcore
