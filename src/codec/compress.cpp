// ICM_COMPRESS: one DIB frame in, one PNG datastream out.
//
// The input rows are wrapped as a bitmap without copying, encoded into the
// instance's scratch stream, and read back into the host's buffer in
// 100-byte pieces. The host sized that buffer from ICM_COMPRESS_GET_SIZE,
// so an encoding longer than that answer fails the frame before a single
// byte is copied.
#include <cstring>

#include "codec/compress.h"

#include "codec/pixel_format.h"
#include "codes.h"
#include "format/compress_format.h"

namespace {

constexpr ULONG kReadChunkBytes = 100;

// Row distance in the input, or 0 when the header describes rows that the
// bitmap would read outside the host's biSizeImage bytes: a height of 0 or
// below (top-down frames are not compressed), a width of 0 or below, or a
// stride shorter than one row of pixels (negative strides included).
int32_t InputStride(const BITMAPINFOHEADER& input, PixelFormat format)
{
    if (input.biHeight <= 0 || input.biWidth <= 0)
        return 0;
    // Both positive now, so the quotient fits and the division cannot trap.
    const int32_t stride = static_cast<int32_t>(input.biSizeImage) / input.biHeight;
    const int64_t pixelBytes =
        (static_cast<int64_t>(input.biWidth) * PixelFormatBits(format) + 7) / 8;
    if (stride <= 0 || stride < pixelBytes)
        return 0;
    return stride;
}

// Size of what the last encoding wrote: the stream's position after it.
bool EncodedSize(IStream* stream, uint64_t* size)
{
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    ULARGE_INTEGER position;
    position.QuadPart = 0;
    if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &position)))
        return false;
    *size = position.QuadPart;
    return true;
}

void Rewind(IStream* stream)
{
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

// Copies the first `size` bytes of the stream to `output`.
bool CopyEncodedBytes(IStream* stream, uint32_t size, uint8_t* output)
{
    uint8_t chunk[kReadChunkBytes];
    uint32_t total = 0;
    while (total < size) {
        const ULONG wanted = size - total < kReadChunkBytes ? size - total : kReadChunkBytes;
        ULONG read = 0;
        if (stream->Read(chunk, wanted, &read) != S_OK)
            return false;
        if (read == 0 || read > wanted)
            return false;  // the stream holds less than the encoder reported
        // Whole pieces are copied at a fixed size, which compiles to a few
        // moves rather than a call for every 100 bytes.
        if (read == kReadChunkBytes)
            std::memcpy(output + total, chunk, kReadChunkBytes);
        else
            std::memcpy(output + total, chunk, read);
        total += read;
    }
    return true;
}

int32_t EncodeFrame(const ICCOMPRESS& compress, const CodecInstance& instance, GpBitmap* bitmap)
{
    const BITMAPINFOHEADER& input = *compress.lpbiInput;

    UINT width = 0;
    UINT height = 0;
    GdipGetImageWidth(bitmap, &width);
    GdipGetImageHeight(bitmap, &height);
    if (width != static_cast<UINT>(input.biWidth) || height != static_cast<UINT>(input.biHeight))
        return ICERR_ERROR;

    IStream* stream = instance.stream;
    Rewind(stream);
    if (GdipSaveImageToStream(bitmap, stream, &instance.pngEncoderClsid, nullptr) != Ok)
        return ICERR_ERROR;

    // Only this frame's bytes: an earlier, longer frame may still follow them.
    uint64_t size = 0;
    if (!EncodedSize(stream, &size))
        return ICERR_ERROR;
    const uint64_t capacity = OnCompressGetSize(&input);
    if (size > capacity)
        return ICERR_ERROR;

    Rewind(stream);
    const auto frameBytes = static_cast<uint32_t>(size);
    if (!CopyEncodedBytes(stream, frameBytes, static_cast<uint8_t*>(compress.lpOutput)))
        return ICERR_ERROR;
    compress.lpbiOutput->biSizeImage = frameBytes;
    return ICERR_OK;
}

}  // namespace

int32_t OnCompress(const ICCOMPRESS* compress, CodecInstance* instance)
{
    if (compress == nullptr || instance == nullptr || instance->stream == nullptr)
        return ICERR_ERROR;
    if (compress->lpbiInput == nullptr || compress->lpInput == nullptr ||
        compress->lpbiOutput == nullptr || compress->lpOutput == nullptr)
        return ICERR_ERROR;

    const BITMAPINFOHEADER& input = *compress->lpbiInput;
    const PixelFormat format = BitmapPixelFormat(input.biBitCount);
    const int32_t stride = InputStride(input, format);
    if (stride == 0)
        return ICERR_ERROR;

    GpBitmap* bitmap = nullptr;
    GdipCreateBitmapFromScan0(input.biWidth, input.biHeight, stride, format,
                              static_cast<BYTE*>(compress->lpInput), &bitmap);
    if (bitmap == nullptr)
        return ICERR_ERROR;

    const int32_t result = EncodeFrame(*compress, *instance, bitmap);
    GdipDisposeImage(bitmap);
    return result;
}
