// Exercises libdeflate and libspng as the Windows build compiles them:
// DEFLATE and zlib round trips at several levels, checksums over buffers
// long enough to reach the vector code chosen at run time, and a PNG built
// here with libdeflate that libspng (and so zlib) must decode exactly and
// must refuse once damaged.
//
// Usage: third_party_check
#include <libdeflate.h>
#include <spng.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "check.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes of one kind: all zeros, xorshift noise (no matches to find), or
// repeated words (many matches, long and short).
Bytes Sample(int kind, size_t size)
{
    Bytes bytes(size);
    uint32_t state = 0x9E3779B9u;
    const char text[] = "frame row pixel filter paeth ";
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        if (kind == 1)
            bytes[i] = static_cast<uint8_t>(state);
        else if (kind == 2)
            bytes[i] = static_cast<uint8_t>(text[i % (sizeof text - 1)]);
    }
    return bytes;
}

// Bit-at-a-time references for the table and vector implementations.
uint32_t ReferenceCrc32(const Bytes& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

uint32_t ReferenceAdler32(const Bytes& bytes)
{
    uint32_t a = 1, b = 0;
    for (uint8_t byte : bytes) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

void Checksums()
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{63}, size_t{4099}, size_t{300000}}) {
        const Bytes bytes = Sample(1, size);
        EXPECT(libdeflate_crc32(0, bytes.data(), size) == ReferenceCrc32(bytes), "crc32 of %zu bytes",
               size);
        EXPECT(libdeflate_adler32(1, bytes.data(), size) == ReferenceAdler32(bytes),
               "adler32 of %zu bytes", size);
    }
}

void DeflateRoundTrips()
{
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (int level : {1, 6, 12}) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        EXPECT(c != nullptr, "compressor at level %d", level);
        if (c == nullptr)
            continue;
        for (int kind = 0; kind < 3; ++kind) {
            const Bytes in = Sample(kind, 200000);
            Bytes packed(libdeflate_zlib_compress_bound(c, in.size()));
            packed.resize(libdeflate_zlib_compress(c, in.data(), in.size(), packed.data(), packed.size()));
            EXPECT(!packed.empty(), "level %d, kind %d: zlib compression failed", level, kind);
            if (kind != 1)
                EXPECT(packed.size() < in.size() / 10, "level %d, kind %d: %zu bytes", level, kind,
                       packed.size());

            Bytes out(in.size());
            size_t got = 0;
            EXPECT(libdeflate_zlib_decompress(d, packed.data(), packed.size(), out.data(), out.size(),
                                              &got) == LIBDEFLATE_SUCCESS && got == in.size() && out == in,
                   "level %d, kind %d: zlib round trip", level, kind);
            // A stream cut short, or with its checksum broken, is refused.
            EXPECT(libdeflate_zlib_decompress(d, packed.data(), packed.size() / 2, out.data(),
                                              out.size(), &got) != LIBDEFLATE_SUCCESS,
                   "level %d, kind %d: truncated stream accepted", level, kind);
            packed.back() ^= 1;
            EXPECT(libdeflate_zlib_decompress(d, packed.data(), packed.size(), out.data(), out.size(),
                                              &got) != LIBDEFLATE_SUCCESS,
                   "level %d, kind %d: bad Adler-32 accepted", level, kind);
        }
        libdeflate_free_compressor(c);
    }
    libdeflate_free_decompressor(d);
}

void PutBig32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(Bytes& png, const char* type, const Bytes& data)
{
    PutBig32(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBig32(png, libdeflate_crc32(0, png.data() + start, png.size() - start));
}

uint8_t Paeth(int a, int b, int c)
{
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// An 8-bit RGB PNG of `pixels`, each row with the next of the five filters.
Bytes MakePng(const Bytes& pixels, uint32_t width, uint32_t height)
{
    const size_t stride = size_t{width} * 3;
    Bytes filtered;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = &pixels[y * stride];
        const uint8_t* up = y > 0 ? row - stride : nullptr;
        const int filter = static_cast<int>(y % 5);
        filtered.push_back(static_cast<uint8_t>(filter));
        for (size_t x = 0; x < stride; ++x) {
            const int a = x >= 3 ? row[x - 3] : 0, b = up ? up[x] : 0, c = up && x >= 3 ? up[x - 3] : 0;
            const int predicted[5] = {0, a, b, (a + b) / 2, Paeth(a, b, c)};
            filtered.push_back(static_cast<uint8_t>(row[x] - predicted[filter]));
        }
    }
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    Bytes idat(libdeflate_zlib_compress_bound(c, filtered.size()));
    idat.resize(libdeflate_zlib_compress(c, filtered.data(), filtered.size(), idat.data(), idat.size()));
    libdeflate_free_compressor(c);

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBig32(ihdr, width);
    PutBig32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter set 0, no interlace
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", idat);
    PutChunk(png, "IEND", {});
    return png;
}

int DecodeRgb8(const Bytes& png, Bytes& out)
{
    spng_ctx* ctx = spng_ctx_new(0);
    int error = spng_set_png_buffer(ctx, png.data(), png.size());
    size_t size = 0;
    if (error == 0)
        error = spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size);
    if (error == 0) {
        out.assign(size, 0);
        error = spng_decode_image(ctx, out.data(), out.size(), SPNG_FMT_RGB8, 0);
    }
    spng_ctx_free(ctx);
    return error;
}

void PngDecodes()
{
    // 37 pixels: rows whose byte count is no multiple of any vector width.
    const uint32_t width = 37, height = 23;
    Bytes pixels = Sample(1, size_t{width} * height * 3);
    for (size_t i = 0; i < pixels.size() / 2; ++i)  // half noise, half a gradient
        pixels[i] = static_cast<uint8_t>(i / 3 + i % 3 * 40);
    const Bytes png = MakePng(pixels, width, height);

    Bytes decoded;
    const int error = DecodeRgb8(png, decoded);
    EXPECT(error == 0, "spng: %s", spng_strerror(error));
    EXPECT(decoded == pixels, "spng decoded other pixels than were encoded");

    // One flipped bit in the compressed data: the IDAT CRC must catch it.
    Bytes damaged = png;
    damaged[8 + 25 + 8 + 10] ^= 0x10;
    EXPECT(DecodeRgb8(damaged, decoded) != 0, "spng accepted an IDAT with a bad CRC");
}

}  // namespace

int main()
{
    Checksums();
    DeflateRoundTrips();
    PngDecodes();
    return HostResult("third_party_check");
}
