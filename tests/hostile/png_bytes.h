// Assembling PNG datastreams byte by byte, so that tests can build the
// damaged and unusual files no well-behaved writer produces: any IHDR, any
// chunk order, zlib data of their own choosing, with correct or broken CRCs.
#pragma once

#include <libdeflate.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace png_bytes {

inline void PutBe32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

inline uint32_t GetBe32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

inline std::vector<uint8_t> Signature() { return {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}; }

// Appends one chunk with its correct CRC.
inline void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    PutBe32(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, libdeflate_crc32(0, out.data() + typeAt, data.size() + 4));
}

inline std::vector<uint8_t> Ihdr(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType,
                                 uint8_t interlace = 0, uint8_t compression = 0, uint8_t filter = 0)
{
    std::vector<uint8_t> data;
    PutBe32(data, width);
    PutBe32(data, height);
    data.insert(data.end(), {bitDepth, colorType, compression, filter, interlace});
    return data;
}

// A zlib stream of `raw` (filter bytes included), as a writer would make it.
inline std::vector<uint8_t> Zlib(const std::vector<uint8_t>& raw, int level = 6)
{
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    std::vector<uint8_t> out(libdeflate_zlib_compress_bound(compressor, raw.size()));
    out.resize(libdeflate_zlib_compress(compressor, raw.data(), raw.size(), out.data(), out.size()));
    libdeflate_free_compressor(compressor);
    return out;
}

// Filtered rows with filter type 0: each row is its filter byte and `rowBytes`
// bytes of `pixel(x, y)`.
template <typename Pixel>
std::vector<uint8_t> Rows(uint32_t rowBytes, uint32_t height, Pixel pixel)
{
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        for (uint32_t x = 0; x < rowBytes; ++x)
            raw.push_back(static_cast<uint8_t>(pixel(x, y)));
    }
    return raw;
}

// Signature, IHDR, optional PLTE and tRNS, one IDAT and IEND.
inline std::vector<uint8_t> Png(const std::vector<uint8_t>& ihdr, const std::vector<uint8_t>& idat,
                                const std::vector<uint8_t>& plte = {},
                                const std::vector<uint8_t>& trns = {})
{
    std::vector<uint8_t> png = Signature();
    Chunk(png, "IHDR", ihdr);
    if (!plte.empty())
        Chunk(png, "PLTE", plte);
    if (!trns.empty())
        Chunk(png, "tRNS", trns);
    Chunk(png, "IDAT", idat);
    Chunk(png, "IEND", {});
    return png;
}

// Where each chunk of a well-formed datastream starts, by type, in order.
struct ChunkAt {
    std::string type;
    size_t offset;  // of its length field
    uint32_t length;
};

inline std::vector<ChunkAt> Chunks(const std::vector<uint8_t>& png)
{
    std::vector<ChunkAt> chunks;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = GetBe32(png.data() + at);
        chunks.push_back({std::string(reinterpret_cast<const char*>(png.data() + at + 4), 4), at, length});
        at += size_t{length} + 12;
    }
    return chunks;
}

}  // namespace png_bytes
