// The writer's matching path, for content where repeats pay: smooth and
// rendered frames, screens. Filtered bytes are parsed into literals and
// matches with one hash probe per pixel start plus the two distances that
// filtered images repeat most, one pixel and one row; the symbols are then
// coded as one dynamic-Huffman block built from their own counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/png/bit_writer.h"
#include "platform/png/frame_code.h"

namespace pngcore {

// A parse of one or more pieces of bytes: runs of literals, each followed
// by a match, the last of each piece by none. The literals are read from
// the pieces themselves, which must outlive the parse's use.
struct MatchParse {
    struct Sequence {
        uint32_t literals;  // bytes coded as literals before the match
        uint16_t length;    // 3..258, or 0 where the piece ends
        uint16_t distance;  // 1..32768
    };
    std::unique_ptr<Sequence[]> sequences;
    size_t count = 0;
    size_t capacity = 0;
    std::vector<const uint8_t*> pieces;  // where each piece starts
    // Symbols so far, counted as they are parsed: literals in four tables
    // whose entries from 256 on take the places past a run's end, and the
    // literal/length and distance symbols of the matches.
    uint64_t literalCounts[4][512];
    uint64_t litlenCounts[kLitLenSymbols];
    uint64_t distCounts[kDistSymbols];

    MatchParse() { Clear(); }
    void Clear();
    // Room for `more` sequences after the present ones.
    void Reserve(size_t more);
};

// Appends a run of `run` literals, the bytes at `literals`, and the match
// after it (length 0 where the piece ends, with the parse's pieces to be
// told where it starts), counting their symbols. Room must be reserved.
void AppendSequence(MatchParse& parse, const uint8_t* literals, uint32_t run, uint16_t length,
                    uint16_t distance);

// Parses `size` bytes. Matches never reach before `data` nor past its end,
// so pieces parsed apart stay independent. `pixelBytes` and `rowBytes` (a
// row with its filter byte) are the distances tried before the hashed
// one, the row's only when `rowDistance`.
// A match is taken only where it looks cheaper than its bytes coded as
// literals of `literalBits[byte]` bits. Appends to `parse` as a piece.
void ParseMatches(const uint8_t* data, size_t size, size_t pixelBytes, size_t rowBytes,
                  const uint8_t* literalBits, MatchParse& parse, bool rowDistance = true);

// Bits WriteParse would put for `parse`, headers estimated.
uint64_t CodedBits(const MatchParse& parse);

// Writes the parse as one dynamic-Huffman block with a code built from its
// own symbol counts, the stream's last when `final`.
void WriteParse(const MatchParse& parse, BitWriter& writer, bool final);

// Most bytes WriteParse may put for a parse of `rawBytes` bytes, the
// writer's spare word included.
constexpr size_t MatchBlockBound(size_t rawBytes)
{
    // A header below 300 bytes and at most 15 bits per byte: a literal of
    // 15 bits, or a match of 4 bytes or more in at most 15 + 5 + 15 + 13.
    return 512 + rawBytes * 15 / 8 + 16;
}

} // namespace pngcore
