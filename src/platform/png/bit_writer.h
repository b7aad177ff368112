// Little-endian bit packing for deflate: bits leave in the order they were
// put, least significant first.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace pngcore {

static_assert(std::endian::native == std::endian::little, "the bit writer stores whole words");

struct BitWriter {
    uint8_t* next = nullptr;
    uint64_t bits = 0;
    unsigned count = 0;  // pending bits in `bits`, always below 8 between calls

    // Puts the low `n` bits of `value` (n <= 56; higher bits must be zero).
    // Stores a whole word each time, so the buffer needs 8 spare bytes.
    void Put(uint64_t value, unsigned n)
    {
        bits |= value << count;
        count += n;
        std::memcpy(next, &bits, 8);
        next += count >> 3;
        bits >>= count & ~7u;
        count &= 7;
    }

    // Pads to a byte boundary with zero bits.
    void AlignToByte()
    {
        if (count != 0) {
            *next++ = static_cast<uint8_t>(bits);
            bits = 0;
            count = 0;
        }
    }
};

} // namespace pngcore
