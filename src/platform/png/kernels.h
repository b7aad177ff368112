// The pieces of the writer and reader that exist once per instruction set,
// and the tables they share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/png/bit_writer.h"
#include "platform/png/png.h"

namespace pngcore {

// The literal code laid out for 16-entry lookups. Literals 0..15 and
// 240..255 (residuals -16..15) have their own codes of at most 8 bits. The
// other literals come in groups of 16 sharing a high nibble; a group's
// codes are a common prefix followed by the low nibble, so the emitted bits
// are prefix | reverse4(low) << prefixLength. All codes are stored
// bit-reversed, ready to be put least significant bit first.
struct alignas(16) LiteralTables {
    uint8_t lowCode[16];     // literal i, 0..15
    uint8_t lowLength[16];
    uint8_t highCode[16];    // literal 240 + i
    uint8_t highLength[16];
    uint8_t prefixLo[16];    // by high nibble 1..14: prefix bits 0..7
    uint8_t prefixHi[16];    //   and 8..15
    uint8_t groupLength[16]; // by high nibble 1..14: whole code length
    uint8_t shiftLo[16];     // by high nibble 1..14: 1 << prefix length,
    uint8_t shiftHi[16];     //   low and high byte
    uint8_t reverse4[16];    // low nibble reversed
    uint8_t length[256];     // every literal's code length, for scalar code
    uint16_t code[256];      // every literal's code, bit-reversed
};

// Zero residuals waiting to be sent as a run.
struct RunState {
    uint64_t zeros = 0;
};

// A whole deflate code for one frame: literals, end of block and the few
// lengths used for runs of zeros (always at distance 1).
struct FrameCode {
    LiteralTables literals;
    uint32_t endCode = 0;
    uint8_t endLength = 0;
    // Bits for a match of length 3..258 at distance 1: length code, extra
    // bits and the one-bit distance code together; zero length where the
    // length is not one we send.
    uint32_t matchCode[259] = {};
    uint8_t matchLength[259] = {};
};

constexpr size_t kFilterCount = 5;
// No filter set for a frame: each row is judged.
constexpr uint8_t kAnyFilter = 0xFF;

// Rows handed to kernels have 32 readable zero bytes before their first
// byte and 32 readable bytes after their last; filter outputs have 32
// writable bytes after theirs.
constexpr size_t kRowPad = 32;

// Filters are judged on the first 32 bytes of every 128 of a row: on
// photographs that picks nearly the same filters as judging every byte
// (0.05% more bytes) for a quarter of the work. Every path judges the same
// bytes.
constexpr size_t kCostedBytes = 32;
constexpr size_t kCostedStride = 128;

// Most rows unfilterRows takes at once.
constexpr size_t kUnfilterBatch = 8;

struct FastKernels {
    // Reorders `bytes` bytes between the imaging layout and PNG order (BGR
    // and RGB swap, 16-bit samples swap bytes; the same call serves both
    // directions). Reads and writes exactly `bytes` bytes.
    void (*swizzle)(const uint8_t* src, uint8_t* dst, size_t bytes, PngPixels pixels);

    // Writes the estimated bit cost under `costs` of each of the five
    // filtered forms of `cur` (above it `prev`), over the first
    // kCostedBytes of every kCostedStride bytes, to cost[f].
    void (*filterCosts)(const uint8_t* cur, const uint8_t* prev, size_t n, size_t bpp,
                        const LiteralTables& costs, uint64_t cost[kFilterCount]);

    // Writes `cur` filtered with `filter` (0..4) to `out`.
    void (*filterRow)(uint8_t filter, const uint8_t* cur, const uint8_t* prev, size_t n,
                      size_t bpp, uint8_t* out);

    // Codes `n` bytes (readable 32 bytes further) as literals and runs.
    void (*encodeBytes)(const uint8_t* data, size_t n, const FrameCode& code, RunState& run,
                        BitWriter& writer);

    // Undoes `filter` on one row in place; `prev` is the row above, already
    // unfiltered (zeros for the first). Reads nothing outside the two rows.
    void (*unfilterRow)(uint8_t filter, uint8_t* row, const uint8_t* prev, size_t n, size_t bpp);

    // Undoes the filters of up to `count` (at most kUnfilterBatch)
    // consecutive rows (rows[k] below rows[k - 1], the first below `prev`)
    // together, where that is faster. Returns how many leading rows it
    // undid, possibly none.
    size_t (*unfilterRows)(const uint8_t* filters, uint8_t* const* rows, size_t count,
                           const uint8_t* prev, size_t n, size_t bpp);

    // Writes `out` (imaging layout) from the row's Up-filtered bytes
    // `residuals` (PNG order) and the row above, `prev`, already undone
    // and in the imaging layout: swizzle and unfiltering in one pass.
    // Swizzling commutes with the filters, which only ever combine the
    // same byte of neighbouring pixels.
    void (*unfilterUpInto)(const uint8_t* residuals, const uint8_t* prev, uint8_t* out, size_t n,
                           PngPixels pixels);

    // Whether the inflater may copy matches with SSSE3's byte shuffle. Its
    // loop must inline the copy, so it is built twice rather than called
    // through a pointer.
    bool shuffleCopies;

    // Whether the inflater may use AVX2 and BMI2, as these kernels do:
    // gathers to build its tables of literal runs, BMI2's shifts in its
    // loop. Like the copy, built in its own file.
    bool inflateAvx2;
};

extern const FastKernels kPortableKernels;
#if defined(__x86_64__) || defined(__i386__)
extern const FastKernels kSse41Kernels;
extern const FastKernels kAvx2Kernels;
extern const FastKernels kAvx512Kernels;
#endif

// The kernels of the path in use.
const FastKernels& ActiveKernels();

} // namespace pngcore
