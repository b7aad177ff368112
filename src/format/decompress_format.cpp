// What the codec can decompress and the uncompressed format it proposes.
#include "codes.h"
#include "format/decompress_format.h"
#include "format/dib.h"

int32_t OnDecompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output)
{
    if (input == nullptr)
        return ICERR_ERROR;
    if (input->biCompression != kFourccMpng)
        return ICERR_BADFORMAT;
    if (output == nullptr)
        return ICERR_OK;
    if (input->biWidth != output->biWidth || input->biHeight != output->biHeight)
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

int32_t OnDecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output)
{
    if (input == nullptr)
        return ICERR_BADFORMAT;
    if (output == nullptr)
        return static_cast<int32_t>(FormatBytes(input->biBitCount));

    // Read everything first: the host may pass one header as both.
    const LONG width = input->biWidth;
    const LONG height = input->biHeight;
    const WORD bitCount = input->biBitCount;
    const auto sizeImage = static_cast<uint32_t>(DibRowBytes(bitCount, width)) *
                           static_cast<uint32_t>(height);

    *output = BITMAPINFOHEADER{};
    output->biSize = kHeaderBytes;
    output->biWidth = width;
    output->biHeight = height;
    output->biPlanes = 1;
    output->biBitCount = bitCount;
    output->biCompression = BI_RGB;
    output->biSizeImage = sizeImage;
    if (bitCount == 8)
        FillGrayPalette(output);
    return ICERR_OK;
}
