// The band map chunk, "tvBM": private (second letter lower case), ancillary
// (readers that do not know it skip it and decode the image as usual) and
// not safe to copy (fourth letter upper case), because it describes the
// IDAT layout and is wrong as soon as an editor rewrites the image data.
// It comes before the first IDAT. Body, big-endian:
//
//   offset  size  field
//   0       1     version, 1
//   1       1     flags: bit 0 set when every band came from the writer's
//                 own coders, not libdeflate; other bits zero
//   2       2     zero
//   4       4     band count N (>= 1)
//   8       16*N  per band, in row order:
//                   first row, row count,
//                   index of the IDAT chunk that holds the band's first byte
//                   (0 for the first IDAT), offset of that byte in the
//                   chunk's data
//
// A band's deflate data runs from its start to the next band's start; the
// last band's runs to the Adler-32 that ends the zlib stream. Each band's
// data is whole deflate blocks that end on a byte boundary, no match
// reaches outside the band, only the last band's last block is final, and
// the first row of every band but the first has filter None or Sub. A band
// can therefore be inflated and unfiltered on its own.
#include "platform/png/band_map.h"

#include "platform/png/container.h"

namespace pngcore {

namespace {

constexpr uint8_t kVersion = 1;
constexpr size_t kHeadBytes = 8;
constexpr size_t kEntryBytes = 16;
constexpr uint8_t kOwnCodedFlag = 1;

} // namespace

std::vector<uint8_t> WriteBandMap(const std::vector<Band>& bands, bool ownCoded)
{
    std::vector<uint8_t> body(kHeadBytes + kEntryBytes * bands.size(), 0);
    body[0] = kVersion;
    body[1] = ownCoded ? kOwnCodedFlag : 0;
    StoreBe32(body.data() + 4, static_cast<uint32_t>(bands.size()));
    uint8_t* p = body.data() + kHeadBytes;
    for (const Band& band : bands) {
        StoreBe32(p, band.firstRow);
        StoreBe32(p + 4, band.rows);
        StoreBe32(p + 8, band.chunk);
        StoreBe32(p + 12, band.offset);
        p += kEntryBytes;
    }
    return body;
}

bool ReadBandMap(const uint8_t* body, size_t size, uint32_t height, std::vector<Band>& bands,
                 bool& ownCoded)
{
    if (size < kHeadBytes || body[0] != kVersion || (body[1] & ~kOwnCodedFlag) != 0 || body[2] != 0 ||
        body[3] != 0)
        return false;
    ownCoded = body[1] == kOwnCodedFlag;
    const uint32_t count = LoadBe32(body + 4);
    // The length check comes first, so a huge count costs nothing.
    if (count == 0 || count > height || (size - kHeadBytes) / kEntryBytes != count ||
        (size - kHeadBytes) % kEntryBytes != 0)
        return false;
    bands.clear();
    bands.reserve(count);
    uint64_t nextRow = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = body + kHeadBytes + kEntryBytes * i;
        const Band band{LoadBe32(p), LoadBe32(p + 4), LoadBe32(p + 8), LoadBe32(p + 12)};
        if (band.firstRow != nextRow || band.rows == 0)
            return false;
        if (i != 0) {
            const Band& before = bands.back();
            if (band.chunk < before.chunk || (band.chunk == before.chunk && band.offset <= before.offset))
                return false;
        }
        nextRow += band.rows;
        bands.push_back(band);
    }
    return nextRow == height;
}

uint32_t Adler32Combine(uint32_t adlerA, uint32_t adlerB, uint64_t lengthB)
{
    // With s1 = 1 + sum of bytes and s2 = sum of the s1 after each byte,
    // appending B adds B's byte sum to s1, and to s2 adds B's s2 plus
    // (s1 of A - 1) once for every byte of B.
    constexpr uint64_t kMod = 65521;
    const uint64_t a1 = adlerA & 0xFFFF, a2 = adlerA >> 16;
    const uint64_t b1 = adlerB & 0xFFFF, b2 = adlerB >> 16;
    const uint64_t n = lengthB % kMod;
    const uint64_t s1 = (a1 + b1 + kMod - 1) % kMod;
    const uint64_t s2 = (a2 + b2 + n * ((a1 + kMod - 1) % kMod)) % kMod;
    return static_cast<uint32_t>(s2 << 16 | s1);
}

} // namespace pngcore
