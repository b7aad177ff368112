// A deflate reader for the band shape our writer produces: one
// dynamic-Huffman block, then either the stream's end (the block final) or
// an empty stored block that closes the band on a byte boundary. It knows
// nothing else, so anything else is declined for the general inflater.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pngcore {

// Inflates `in` (exactly the band's deflate bytes) to exactly `outSize`
// bytes at `out`. `last` says whether the band ends the stream (final
// block, padding zeros to the byte) or is closed by the empty stored
// block. Returns false for any other shape and for every inconsistency:
// bad or incomplete codes, distances before the band, lengths past its
// end, too few or too many bytes in or out. Writes nothing outside
// out[0, outSize), and on failure what it wrote there is unspecified.
bool InflateOwnBand(const uint8_t* in, size_t inSize, bool last, uint8_t* out, size_t outSize);

// True when band data opens with a dynamic block that has one distance
// code: the match-free writer's literals and runs, where this reader beats
// libdeflate. On streams of long copies libdeflate is the faster one.
inline bool LiteralsAndRuns(const uint8_t* in, size_t size)
{
    return size >= 2 && ((in[0] >> 1) & 3) == 2 && (in[1] & 0x1F) == 0;
}

// Where a deflate stream's last block starts and where it ends, in bits.
struct StreamEnd {
    size_t finalBlockBit;
    size_t endBit;
};

// Inflates a whole deflate stream of any blocks to exactly `outSize`
// bytes, checked as above, and says where its final block lies. Slower
// than libdeflate; for finding the final block in libdeflate's output.
bool InflateStream(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                   StreamEnd& streamEnd);

} // namespace pngcore
