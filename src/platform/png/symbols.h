// How filtered bytes become deflate symbols. Every path cuts the bytes into
// the same 32-byte chunks and makes the same choices, so all paths write
// identical streams and the sampling pass predicts the real one exactly.
//
// A chunk of zeros extends the pending run. Otherwise the zeros opening the
// chunk join a pending run, the run is sent, and zeros closing the chunk
// (at least kMinTrailingRun of them) start a new one; the bytes between go
// out as literals. A run is one literal zero followed by distance-1 matches
// of the lengths in kRunPieces that the frame's code has, then literal
// zeros for what is left.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "platform/png/kernels.h"

namespace pngcore {

constexpr size_t kChunk = 32;
constexpr unsigned kMinTrailingRun = 8;
constexpr unsigned kMinPiece = 8;

// Match lengths a run is cut into: the largest piece that fits, each piece
// a range of lengths that one length symbol covers.
struct RunPiece {
    uint16_t first;
    uint16_t last;
    uint16_t symbol;
    uint8_t extraBits;
};
inline constexpr RunPiece kRunPieces[] = {
    {258, 258, 285, 0}, {115, 130, 280, 4}, {35, 42, 273, 3},
    {19, 22, 269, 2},   {11, 12, 265, 1},   {8, 8, 262, 0},
};

// The largest piece of at most m that the sink can send; 0 if none.
template <class Sink>
uint32_t NextPiece(uint64_t m, const Sink& sink)
{
    for (const RunPiece& piece : kRunPieces) {
        if (m >= piece.first && sink.HasPiece(piece))
            return m < piece.last ? static_cast<uint32_t>(m) : piece.last;
    }
    return 0;
}

// Sends `zeros` zero bytes through sink.Literal(byte) and sink.Match(length).
// A frame's code may leave some pieces out (sink.HasPiece says which).
template <class Sink>
void EmitRun(uint64_t zeros, Sink& sink)
{
    if (zeros == 0)
        return;
    sink.Literal(0);
    uint64_t m = zeros - 1;
    while (m >= kMinPiece) {
        const uint32_t piece = NextPiece(m, sink);
        if (piece == 0)
            break;
        sink.Match(piece);
        m -= piece;
    }
    for (; m != 0; --m)
        sink.Literal(0);
}

// Bit i set where data[i] == 0, for the first k (1..32) bytes.
inline uint32_t ZeroMask(const uint8_t* data, size_t k)
{
    uint32_t mask = 0;
    for (size_t i = 0; i < k; ++i)
        mask |= static_cast<uint32_t>(data[i] == 0) << i;
    return mask;
}

// The chunk decision shared by every path: given a chunk's zero mask,
// updates the run (sending it through sink when it ends) and returns the
// literal range [start, end) to send. Returns false for an all-zero chunk.
template <class Sink>
inline bool PlanChunk(uint32_t zeroMask, size_t k, RunState& run, Sink& sink, unsigned& start,
                      unsigned& end)
{
    const uint32_t full = k == 32 ? ~0u : (1u << k) - 1;
    if (zeroMask == full) {
        run.zeros += k;
        return false;
    }
    start = 0;
    if (run.zeros != 0) {
        start = static_cast<unsigned>(std::countr_one(zeroMask));
        EmitRun(run.zeros + start, sink);
        run.zeros = 0;
    }
    const unsigned trailing = static_cast<unsigned>(std::countl_one(zeroMask << (32 - k)));
    end = static_cast<unsigned>(k);
    if (trailing >= kMinTrailingRun) {
        end -= trailing;
        run.zeros = trailing;
    }
    return true;
}

// Runs the whole chunk plan with scalar literals.
template <class Sink>
void EncodeBytesScalar(const uint8_t* data, size_t n, RunState& run, Sink& sink)
{
    for (size_t pos = 0; pos < n; pos += kChunk) {
        const size_t k = n - pos < kChunk ? n - pos : kChunk;
        unsigned start, end;
        if (!PlanChunk(ZeroMask(data + pos, k), k, run, sink, start, end))
            continue;
        for (unsigned i = start; i < end; ++i)
            sink.Literal(data[pos + i]);
    }
}

// Puts symbols into a bit stream.
struct BitSink {
    const FrameCode& code;
    BitWriter& writer;
    void Literal(uint8_t byte) { writer.Put(code.literals.code[byte], code.literals.length[byte]); }
    void Match(uint32_t length) { writer.Put(code.matchCode[length], code.matchLength[length]); }
    bool HasPiece(const RunPiece& piece) const { return code.matchLength[piece.first] != 0; }
};

} // namespace pngcore
