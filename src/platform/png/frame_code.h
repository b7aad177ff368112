// Building one frame's deflate code from symbol counts, and writing the
// dynamic block header that describes it.
#pragma once

#include <cstdint>

#include "platform/png/bit_writer.h"
#include "platform/png/kernels.h"

namespace pngcore {

constexpr unsigned kLitLenSymbols = 286;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kDistSymbols = 30;

// Counts of literal/length symbols seen in a sample.
struct SymbolCounts {
    uint64_t litlen[kLitLenSymbols] = {};
};

// The literal/length symbol that sends a match of `length` (a run piece).
unsigned LengthSymbol(uint32_t length);

// Symbol code lengths of a frame code, kept for its header.
struct CodeLengths {
    uint8_t litlen[kLitLenSymbols] = {};
};

// Builds a complete code shaped for the lookups of LiteralTables: every
// literal and the run symbols get a code. Returns false when the counts
// cannot be fitted to that shape (callers then write the frame another way).
bool BuildFrameCode(const SymbolCounts& counts, FrameCode& code, CodeLengths& lengths);

// Starts a dynamic-Huffman block (the stream's last when `final`): block
// header and code lengths.
void WriteBlockHeader(const CodeLengths& lengths, BitWriter& writer, bool final);

// Starts a dynamic-Huffman block with the given code lengths: 257..286
// literal/length and 1..30 distance symbols.
void WriteDynamicHeader(const uint8_t* litlen, unsigned litlenCount, const uint8_t* dist,
                        unsigned distCount, BitWriter& writer, bool final);

// Canonical codes, bit-reversed for putting, for `count` symbols (length 0:
// not used); false when the lengths do not form a complete code.
bool CanonicalCodes(const uint8_t* lengths, size_t count, uint32_t* codes);

// Rough per-literal bit costs (smaller residuals cheaper) used to pick
// filters before the frame's own code exists. Only lengths are set.
void FillGuessedCosts(LiteralTables& tables);

} // namespace pngcore
