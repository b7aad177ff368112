// The PNG container: signature, chunks and their CRCs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/png/png.h"

namespace pngcore {

// One band's raw deflate data.
struct BandData {
    const uint8_t* data;
    size_t size;
    uint32_t rows;
};

// Puts signature, IHDR, the band map when there are several bands (telling
// whether they are `ownCoded`), the zlib stream (header, the bands in
// order, `adler`) with each band starting a new IDAT chunk, and IEND.
// False when the sink stops; throws std::bad_alloc.
bool PutPngFile(const PngSource& source, const BandData* bands, size_t count, uint32_t adler,
                bool ownCoded, PngSink& sink);

inline uint32_t LoadBe32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void StoreBe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// PNG's bound on a chunk's length.
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;

// True when `data` starts with the PNG signature and continues with whole
// chunks, each with a length below 2^31 and a matching CRC, up to and
// including IEND. Bytes after IEND are ignored, as decoders do.
bool ChunksIntact(const uint8_t* data, size_t size);

// A zlib stream header a PNG may use: deflate, a window of at most 32 KiB,
// no preset dictionary, check bits right.
inline bool ZlibHeaderOk(const uint8_t* p)
{
    return (p[0] & 0x0F) == 8 && (p[0] >> 4) <= 7 && (p[1] & 0x20) == 0 &&
           (p[0] * 256u + p[1]) % 31 == 0;
}

// Chunks whose type's first letter is lower case may be skipped by readers
// that do not know them.
inline bool IsAncillary(const uint8_t* type) { return (type[0] & 0x20) != 0; }

} // namespace pngcore
