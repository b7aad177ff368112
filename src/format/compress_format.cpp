// What the codec can compress, what its compressed format looks like, and
// how large a compressed frame buffer must be.
#include <cstring>

#include "codes.h"
#include "format/compress_format.h"
#include "format/dib.h"

namespace {

bool QueryableDepth(WORD bitCount) { return bitCount == 8 || bitCount == 24 || bitCount == 32; }

bool EncodableDepth(WORD bitCount) { return bitCount == 16 || QueryableDepth(bitCount); }

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
    return input->biSizeImage * 2u;  // low 32 bits, as hosts size the buffer
}
