#include "platform/png/container.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "platform/png/band_map.h"

namespace pngcore {

namespace {

struct Piece {
    const uint8_t* data;
    size_t size;
};

// One chunk whose data is the concatenation of `pieces`.
bool PutChunk(PngSink& sink, const char* type, std::initializer_list<Piece> pieces)
{
    size_t size = 0;
    for (const Piece& piece : pieces)
        size += piece.size;
    uint8_t head[8];
    StoreBe32(head, static_cast<uint32_t>(size));
    std::copy_n(type, 4, head + 4);
    if (!sink.Put(head, 8))
        return false;
    uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    for (const Piece& piece : pieces) {
        if (piece.size == 0)
            continue;  // a null buffer would reset the CRC
        if (!sink.Put(piece.data, piece.size))
            return false;
        crc = libdeflate_crc32(crc, piece.data, piece.size);
    }
    uint8_t tail[4];
    StoreBe32(tail, crc);
    return sink.Put(tail, 4);
}

// A band's IDAT data: the zlib header before the first band, the Adler-32
// after the last. Beyond PNG's chunk limit it continues in further IDATs.
struct BandStream {
    Piece head, body, tail;
    size_t Size() const { return head.size + body.size + tail.size; }
    size_t Chunks() const { return Size() == 0 ? 1 : (Size() + kMaxChunkLength - 1) / kMaxChunkLength; }
};

bool PutBand(PngSink& sink, const BandStream& band)
{
    if (band.Chunks() == 1)
        return PutChunk(sink, "IDAT", {band.head, band.body, band.tail});
    std::vector<uint8_t> joined;  // only for bands of gigabytes
    for (const Piece& piece : {band.head, band.body, band.tail})
        joined.insert(joined.end(), piece.data, piece.data + piece.size);
    for (size_t done = 0; done < joined.size();) {
        const size_t part = std::min<size_t>(joined.size() - done, kMaxChunkLength);
        if (!PutChunk(sink, "IDAT", {{joined.data() + done, part}}))
            return false;
        done += part;
    }
    return true;
}

} // namespace

bool PutPngFile(const PngSource& source, const BandData* bands, size_t count, uint32_t adler,
                bool ownCoded, PngSink& sink)
{
    static constexpr uint8_t kZlibHeader[2] = {0x78, 0x01};  // deflate, 32 KiB window, no dictionary
    uint8_t trailer[4];
    StoreBe32(trailer, adler);
    std::vector<BandStream> streams(count);
    std::vector<Band> map(count);
    size_t total = 0;
    uint32_t chunk = 0, firstRow = 0;
    for (size_t b = 0; b < count; ++b) {
        streams[b].head = b == 0 ? Piece{kZlibHeader, 2} : Piece{nullptr, 0};
        streams[b].body = {bands[b].data, bands[b].size};
        streams[b].tail = b + 1 == count ? Piece{trailer, 4} : Piece{nullptr, 0};
        map[b] = {firstRow, bands[b].rows, chunk, static_cast<uint32_t>(streams[b].head.size)};
        firstRow += bands[b].rows;
        chunk += static_cast<uint32_t>(streams[b].Chunks());
        total += streams[b].Size() + 12 * streams[b].Chunks();
    }
    const std::vector<uint8_t> mapBody = count > 1 ? WriteBandMap(map, ownCoded) : std::vector<uint8_t>();
    sink.Expect(8 + 25 + (count > 1 ? mapBody.size() + 12 : 0) + total + 12);

    if (!sink.Put(kPngSignature, sizeof kPngSignature))
        return false;
    uint8_t header[13];
    StoreBe32(header, source.width);
    StoreBe32(header + 4, source.height);
    // Indices are written as gray levels: they mean exactly that, and a
    // 780-byte palette would outweigh a small frame.
    static constexpr uint8_t kColourType[] = {0, 0, 2, 6};  // by PngPixels
    header[8] = source.pixels == PngPixels::Gray16 ? 16 : 8;
    header[9] = kColourType[static_cast<size_t>(source.pixels)];
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
    if (!PutChunk(sink, "IHDR", {{header, sizeof header}}))
        return false;
    if (count > 1 && !PutChunk(sink, kBandMapType, {{mapBody.data(), mapBody.size()}}))
        return false;
    for (const BandStream& stream : streams) {
        if (!PutBand(sink, stream))
            return false;
    }
    return PutChunk(sink, "IEND", {});
}

bool ChunksIntact(const uint8_t* data, size_t size)
{
    if (size < sizeof kPngSignature || std::memcmp(data, kPngSignature, sizeof kPngSignature) != 0)
        return false;
    size_t at = sizeof kPngSignature;
    while (size - at >= 12) {
        const uint8_t* chunk = data + at;
        const uint32_t length = LoadBe32(chunk);
        if (length > kMaxChunkLength || length > size - at - 12)
            return false;
        if (libdeflate_crc32(0, chunk + 4, size_t{length} + 4) != LoadBe32(chunk + 8 + length))
            return false;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0)
            return true;
        at += size_t{length} + 12;
    }
    return false;
}

} // namespace pngcore
