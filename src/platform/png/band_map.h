// Row bands: how a frame is cut into pieces that are deflated, inflated and
// unfiltered independently, and the chunk that records them (band_map.cpp
// describes its layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pngcore {

// Raw bytes (filter bytes included) aimed at per band: on photographic
// 1080p and 2160p frames 256 KiB cost 0.4% and 0.9% in size (mostly the
// first rows that may not look above them), 512 KiB half that, and still
// leave a dozen bands or more to share out. The band height
// depends on nothing but the frame's row size, so the same frame gives the
// same bytes whatever the machine or the number of threads.
constexpr size_t kBandBytes = size_t{512} << 10;

// Rows per band for rows of `filteredRowBytes` (row bytes + 1).
inline uint32_t BandRows(size_t filteredRowBytes)
{
    const size_t rows = kBandBytes / filteredRowBytes;
    return rows == 0 ? 1 : rows > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<uint32_t>(rows);
}

inline size_t BandCount(uint32_t height, uint32_t bandRows)
{
    return (size_t{height} + bandRows - 1) / bandRows;
}

inline constexpr char kBandMapType[] = "tvBM";

struct Band {
    uint32_t firstRow;
    uint32_t rows;
    uint32_t chunk;   // index of the IDAT holding the band's first byte
    uint32_t offset;  // where in that IDAT's data the band starts
};

// The chunk body for `bands`; `ownCoded` when every band came from this
// writer's own coders (literals, runs and near matches), which the own
// inflater reads faster than libdeflate whatever their ratio.
std::vector<uint8_t> WriteBandMap(const std::vector<Band>& bands, bool ownCoded = false);

// Parses a chunk body. Returns false unless the version and flags are
// known, the length matches the count and the bands cover rows
// 0..height-1 in order, each at least one row, starting at strictly
// increasing positions. Whether the positions fit the file is the
// reader's to check; the flag is a hint, and every band is checked alike.
bool ReadBandMap(const uint8_t* body, size_t size, uint32_t height, std::vector<Band>& bands,
                 bool& ownCoded);

// The Adler-32 of A followed by B, from the Adler-32s of A and of B and
// the length of B.
uint32_t Adler32Combine(uint32_t adlerA, uint32_t adlerB, uint64_t lengthB);

} // namespace pngcore
