// Plain C++ kernels: the reference every vector path must match byte for
// byte, and the path on processors without SSE4.1.
#include <cstdlib>

#include "platform/png/kernels.h"
#include "platform/png/portable_rows.h"
#include "platform/png/symbols.h"

namespace pngcore {

namespace {

void FilterRow(const uint8_t* cur, const uint8_t* prev, size_t n, size_t bpp,
               const LiteralTables& costs, uint8_t* const out[kFilterCount],
               uint64_t cost[kFilterCount])
{
    uint64_t sum[kFilterCount] = {};
    for (size_t i = 0; i < n; ++i) {
        // Bytes left of the row read as zero: rows carry zero padding.
        const uint8_t x = cur[i];
        const uint8_t a = *(cur + i - bpp);
        const uint8_t b = prev[i];
        const uint8_t c = *(prev + i - bpp);
        const uint8_t r[kFilterCount] = {
            x,
            static_cast<uint8_t>(x - a),
            static_cast<uint8_t>(x - b),
            static_cast<uint8_t>(x - ((a + b) >> 1)),
            static_cast<uint8_t>(x - PaethPredictor(a, b, c)),
        };
        for (size_t f = 0; f < kFilterCount; ++f)
            out[f][i] = r[f];
        if (CostedBlock(i)) {
            for (size_t f = 0; f < kFilterCount; ++f)
                sum[f] += costs.length[r[f]];
        }
    }
    for (size_t f = 0; f < kFilterCount; ++f)
        cost[f] = sum[f];
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
    FilterRow,
    EncodeBytes,
    UnfilterRowPortable,
    [](const uint8_t*, uint8_t* const*, size_t, const uint8_t*, size_t, size_t) -> size_t { return 0; },
    false,
};

} // namespace pngcore
