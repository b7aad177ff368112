// What the codec can compress, what its compressed format looks like, and
// how large a compressed frame buffer must be.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "codes.h"
#include "format/compress_format.h"
#include "format/dib.h"

namespace {

bool QueryableDepth(WORD bitCount) { return bitCount == 8 || bitCount == 24 || bitCount == 32; }

bool EncodableDepth(WORD bitCount) { return bitCount == 16 || QueryableDepth(bitCount); }

// Room for an ancillary chunk a writer may add (gamma, sRGB, text).
constexpr uint64_t kChunkMargin = 4096;

// The most bytes a PNG of this frame can take from any writer the codec
// uses. Compression reads rows only inside biSizeImage, at least a byte a
// row (the stride rule of ICM_COMPRESS), so the filtered rows are at most
// biSizeImage bytes plus one filter byte a row, whatever the header claims
// of width and height. Deflate's worst case is stored blocks (5 bytes a
// block of at most 65535); the native writer's one Huffman block is worse
// still: a header of at most 1024 bytes and at most 14 bits a byte. Then
// zlib's 2-byte header and Adler-32, signature, IHDR, one IDAT per 2^31-1
// bytes and IEND.
uint64_t LargestPng(const BITMAPINFOHEADER& input)
{
    const uint64_t height = input.biHeight < 0 ? 0 - static_cast<uint64_t>(int64_t{input.biHeight})
                                               : static_cast<uint64_t>(input.biHeight);
    const uint64_t raw = uint64_t{input.biSizeImage} + std::min<uint64_t>(height, input.biSizeImage);
    const uint64_t stored = raw + 5 * ((raw + 65534) / 65535 + 1);
    const uint64_t huffman = 1024 + (raw * 14 + 7) / 8 + 8;
    const uint64_t zlib = 2 + std::max(stored, huffman) + 4;
    const uint64_t idats = zlib / 0x7FFFFFFF + 1;
    return 8 + 25 + zlib + 12 * idats + 12 + kChunkMargin;
}

}  // namespace

int32_t OnCompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output)
{
    if (output == nullptr)
        return ICERR_OK;
    if (input == nullptr)
        return ICERR_BADFORMAT;
    // 16-bit gray is not offered: not every imaging library writes it.
    if (!QueryableDepth(input->biBitCount))
        return ICERR_BADFORMAT;
    if (input->biWidth != output->biWidth || input->biHeight != output->biHeight)
        return ICERR_BADFORMAT;
    if (output->biCompression != kFourccMpng)
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

int32_t OnCompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output)
{
    if (input == nullptr)
        return ICERR_BADFORMAT;
    if (output == nullptr)
        return static_cast<int32_t>(FormatBytes(input->biBitCount));
    if (!EncodableDepth(input->biBitCount))
        return ICERR_BADFORMAT;

    std::memmove(output, input, kHeaderBytes);
    output->biSize = kHeaderBytes;
    output->biCompression = kFourccMpng;
    output->biSizeImage = OnCompressGetSize(input);
    output->biXPelsPerMeter = 0;
    output->biYPelsPerMeter = 0;
    output->biClrUsed = 0;
    output->biClrImportant = 0;
    if (output->biBitCount == 8)
        FillGrayPalette(output);
    return ICERR_OK;
}

DWORD OnCompressGetSize(const BITMAPINFOHEADER* input)
{
    if (input == nullptr)
        return 0;
    // Twice the frame, or the largest PNG for frames so small that its
    // fixed chunks outweigh them. Too large a need saturates rather than
    // wraps: the frame then fails cleanly in ICM_COMPRESS.
    const uint64_t need = std::max(uint64_t{input->biSizeImage} * 2, LargestPng(*input));
    return static_cast<DWORD>(std::min<uint64_t>(need, 0xFFFFFFFF));
}
