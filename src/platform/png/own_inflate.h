// Our inflater for the bands of a frame: deflate data that starts on a byte
// boundary and either ends the stream (a final block, then padding to the
// byte) or is closed by the end of a block exactly at its last byte, which
// our writer makes an empty stored block. It beats libdeflate on the
// match-free writer's literals and runs, by far when two bands are
// inflated together, and on the matching writer's photographs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pngcore {

// Inflates `in` (exactly the band's deflate bytes, blocks of any type) to
// exactly `outSize` bytes at `out`. `last` says whether the band ends the
// stream. Returns false for every inconsistency: bad or incomplete codes,
// distances before the band, lengths past its end, too few or too many
// bytes in or out, a final block in a band before the last; libdeflate may
// still read what is declined. Writes nothing outside out[0, outSize), and
// on failure what it wrote there is unspecified.
bool InflateOwnBand(const uint8_t* in, size_t inSize, bool last, uint8_t* out, size_t outSize);

struct OwnBand {
    const uint8_t* in;
    size_t inSize;
    bool last;
    uint8_t* out;
    size_t outSize;
};

// Inflates two independent bands as InflateOwnBand would, taking their
// symbols in turn so that the waits of one's table lookups overlap the
// other's. `ok[i]` is what InflateOwnBand would have returned. The outputs
// must not overlap.
void InflateOwnBands(const OwnBand& a, const OwnBand& b, bool ok[2]);

// For bands whose band map does not say who wrote them: true for those
// this reader likely inflates faster than libdeflate, the match-free
// writer's literals and runs (a dynamic block with one distance code) and
// bands that keep 29% of their size or more. Tighter bands are mostly long
// copies, which libdeflate's writer makes for rendered frames and
// libdeflate reads faster.
inline bool OwnInflaterFaster(const uint8_t* in, size_t size, size_t outSize)
{
    const bool literalsAndRuns = size >= 2 && ((in[0] >> 1) & 3) == 2 && (in[1] & 0x1F) == 0;
    return literalsAndRuns || size * 100 >= outSize * 29;
}

// Where a deflate stream's last block starts and where it ends, in bits.
struct StreamEnd {
    size_t finalBlockBit;
    size_t endBit;
};

// Inflates a whole deflate stream to exactly `outSize` bytes, checked as
// above, and says where its final block lies: for finding the final block
// in libdeflate's output.
bool InflateStream(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                   StreamEnd& streamEnd);

} // namespace pngcore
