// PNG chunk framing: length, type, data, CRC-32 over type and data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Appends one complete chunk holding `size` bytes of `data`.
void AppendPngChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data,
                    uint32_t size);

// For chunks whose data is produced in place (IDAT): BeginPngChunk appends
// the type and a length placeholder and returns the chunk's offset; the
// caller appends the data, then EndPngChunk fills in the length and appends
// the CRC.
size_t BeginPngChunk(std::vector<uint8_t>& out, const char type[4]);
void EndPngChunk(std::vector<uint8_t>& out, size_t chunkOffset);

// Big-endian 32-bit store, PNG's only integer order.
inline void StoreBe32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// True when `data` starts with the PNG signature and continues with whole
// chunks, each with a length below 2^31 and a matching CRC, up to and
// including IEND. Bytes after IEND are ignored, as decoders do.
bool PngChunksIntact(const uint8_t* data, size_t size);
