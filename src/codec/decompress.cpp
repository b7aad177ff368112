// ICM_DECOMPRESS: one PNG frame in, DIB rows out.
//
// The frame's bytes are copied into a movable global block, a memory stream
// over the block feeds the imaging library, and the decoded rows are copied
// straight from the locked bitmap into the host's rows. Nothing is written
// beyond the rows the output header describes, and a frame that cannot be
// decoded leaves the output untouched and is reported as an error.
#include <cstdlib>
#include <cstring>

#include "codec/decompress.h"

#include "codes.h"
#include "format/dib.h"

namespace {

// Opens a memory stream over a copy of the frame's bytes. The stream owns
// the block and frees it with its last reference.
IStream* OpenFrameStream(const void* frame, uint32_t size)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block == nullptr)
        return nullptr;
    void* bytes = GlobalLock(block);
    if (bytes == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(bytes, frame, size);
    GlobalUnlock(block);

    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || stream == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    return stream;
}

// Copies the decoded rows: at most as many as the output's height
// describes, each at most one output row long.
int32_t CopyDecodedRows(GpBitmap* bitmap, const BITMAPINFOHEADER& output, uint8_t* rows)
{
    UINT width = 0;
    UINT height = 0;
    PixelFormat format = 0;
    if (GdipGetImageWidth(bitmap, &width) != Ok || width == 0)
        return ICERR_ERROR;
    if (GdipGetImageHeight(bitmap, &height) != Ok || height == 0)
        return ICERR_ERROR;
    if (GdipGetImagePixelFormat(bitmap, &format) != Ok)
        return ICERR_ERROR;

    const int32_t rowBytes = DibRowBytes(output.biBitCount, output.biWidth);
    if (rowBytes <= 0)
        return ICERR_ERROR;

    const GpRect whole{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
    BitmapData locked{};
    if (GdipBitmapLockBits(bitmap, &whole, ImageLockModeRead | ImageLockModeWrite, format,
                           &locked) != Ok)
        return ICERR_ERROR;

    // A bottom-up lock has a negative stride; its rows are as long as its
    // magnitude.
    const int64_t stride = locked.Stride;
    const int64_t sourceRowBytes = std::llabs(stride);
    const int64_t copy = sourceRowBytes < rowBytes ? sourceRowBytes : rowBytes;
    const uint64_t outputRows = static_cast<uint64_t>(std::llabs(static_cast<int64_t>(output.biHeight)));
    const uint64_t rowCount = locked.Height < outputRows ? locked.Height : outputRows;

    int32_t result = ICERR_ERROR;
    if (copy > 0 && locked.Scan0 != nullptr) {
        const auto* source = static_cast<const uint8_t*>(locked.Scan0);
        for (uint64_t r = 0; r < rowCount; ++r)
            std::memcpy(rows + r * static_cast<uint64_t>(rowBytes),
                        source + static_cast<int64_t>(r) * stride, static_cast<size_t>(copy));
        result = ICERR_OK;
    }
    GdipBitmapUnlockBits(bitmap, &locked);
    return result;
}

}  // namespace

int32_t OnDecompress(const ICDECOMPRESS* decompress)
{
    if (decompress == nullptr || decompress->lpbiInput == nullptr ||
        decompress->lpbiOutput == nullptr)
        return ICERR_ERROR;

    // A frame of no bytes is a null frame: the host shows the previous one.
    const uint32_t size = decompress->lpbiInput->biSizeImage;
    if (size == 0)
        return ICERR_OK;
    if (decompress->lpInput == nullptr || decompress->lpOutput == nullptr)
        return ICERR_ERROR;

    IStream* stream = OpenFrameStream(decompress->lpInput, size);
    if (stream == nullptr)
        return ICERR_ERROR;

    // The bitmap takes its own reference to the stream; disposing of it
    // frees the stream and the block.
    GpBitmap* bitmap = nullptr;
    const GpStatus status = GdipCreateBitmapFromStreamICM(stream, &bitmap);
    stream->Release();
    if (bitmap == nullptr)
        return ICERR_ERROR;

    int32_t result = ICERR_ERROR;
    if (status == Ok)
        result = CopyDecodedRows(bitmap, *decompress->lpbiOutput,
                                 static_cast<uint8_t*>(decompress->lpOutput));
    GdipDisposeImage(bitmap);
    return result;
}
