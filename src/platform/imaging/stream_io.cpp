// Encoding a bitmap into a stream and decoding one from a stream, both
// through the PNG engine.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "platform/imaging/encoders.h"
#include "platform/imaging/runtime.h"
#include "platform/imaging/bitmap_store.h"
#include "platform/png/png.h"

namespace {

// Writes all of `bytes` at the stream's position, in pieces a ULONG counts.
bool WriteAll(IStream* stream, const uint8_t* bytes, size_t size)
{
    while (size != 0) {
        ULONG piece = size > 0x40000000 ? 0x40000000 : ULONG(size);
        ULONG written = 0;
        if (FAILED(stream->Write(bytes, piece, &written)) || written != piece)
            return false;
        bytes += piece;
        size -= piece;
    }
    return true;
}

// Reads everything from the stream's position to its end. When the stream
// tells its size the buffer is sized once; otherwise it grows.
bool ReadRest(IStream* stream, std::vector<uint8_t>& bytes)
{
    ULARGE_INTEGER here{}, end{};
    LARGE_INTEGER zero{};
    if (SUCCEEDED(stream->Seek(zero, STREAM_SEEK_CUR, &here)) &&
        SUCCEEDED(stream->Seek(zero, STREAM_SEEK_END, &end))) {
        LARGE_INTEGER back{};
        back.QuadPart = int64_t(here.QuadPart);
        if (FAILED(stream->Seek(back, STREAM_SEEK_SET, nullptr)))
            return false;
        if (end.QuadPart > here.QuadPart) {
            // A stream may claim more than it holds: reserve at most 1 GiB
            // up front and let the reads show the rest.
            const uint64_t rest = end.QuadPart - here.QuadPart;
            bytes.reserve(size_t(std::min<uint64_t>(rest, uint64_t{1} << 30)));
        }
    }
    // Fill the room reserved, then probe with a small buffer for anything
    // more, so that a stream of known size is copied exactly once.
    for (;;) {
        const size_t at = bytes.size();
        ULONG got = 0;
        if (bytes.capacity() > at) {
            const size_t want = std::min<size_t>(bytes.capacity() - at, 0x40000000);
            bytes.resize(at + want);
            HRESULT result = stream->Read(bytes.data() + at, ULONG(want), &got);
            bytes.resize(at + std::min<size_t>(got, want));
            if (FAILED(result))
                return false;
        } else {
            uint8_t probe[4096];
            if (FAILED(stream->Read(probe, sizeof probe, &got)))
                return false;
            bytes.insert(bytes.end(), probe, probe + std::min<size_t>(got, sizeof probe));
        }
        if (got == 0)
            return true;
    }
}

// A memory stream's bytes are decoded where they lie, from the stream's
// position to its end, without a copy. False when the stream is not over
// a global block; then the bytes are read out instead.
bool DecodeInPlace(IStream* stream, DecodedPng& decoded, bool* ok)
{
    HGLOBAL block = nullptr;
    if (FAILED(GetHGlobalFromStream(stream, &block)) || block == nullptr)
        return false;
    ULARGE_INTEGER here{}, end{};
    LARGE_INTEGER zero{};
    if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &here)) ||
        FAILED(stream->Seek(zero, STREAM_SEEK_END, &end)))
        return false;
    LARGE_INTEGER back{};
    back.QuadPart = static_cast<int64_t>(here.QuadPart);
    stream->Seek(back, STREAM_SEEK_SET, nullptr);
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(block));
    if (bytes == nullptr)
        return false;
    // The stream's size never passes its block's, but trust neither alone.
    const uint64_t size = std::min<uint64_t>(end.QuadPart, GlobalSize(block));
    *ok = here.QuadPart < size &&
          DecodePng(bytes + here.QuadPart, static_cast<size_t>(size - here.QuadPart), decoded,
                    ImagingWorkers());
    GlobalUnlock(block);
    return true;
}

}  // namespace

GpStatus WINAPI GdipSaveImageToStream(GpImage* image, IStream* stream, const CLSID* encoder,
                                      const EncoderParameters*)
{
    ImagingBitmap* bitmap = FindBitmap(image);
    if (bitmap == nullptr || stream == nullptr || encoder == nullptr)
        return InvalidParameter;
    if (!IsEqualGUID(*encoder, kPngEncoderClsid))
        return FileNotFound;  // no such encoder here
    if (bitmap->locked)
        return WrongState;
    // The file goes to the stream piece by piece as it is put together.
    class StreamSink final : public PngSink {
    public:
        explicit StreamSink(IStream* stream) : stream_(stream) {}
        bool Put(const uint8_t* data, size_t size) override
        {
            failed = !WriteAll(stream_, data, size);
            return !failed;
        }
        bool failed = false;

    private:
        IStream* stream_;
    };
    StreamSink sink(stream);
    PngSource source{bitmap->width, bitmap->height, bitmap->pixels, bitmap->firstRow,
                     bitmap->stride};
    if (EncodePng(source, sink, ImagingWorkers()))
        return Ok;
    return sink.failed ? Win32Error : OutOfMemory;
}

GpStatus WINAPI GdipCreateBitmapFromStreamICM(IStream* stream, GpBitmap** bitmap)
{
    if (bitmap == nullptr)
        return InvalidParameter;
    *bitmap = nullptr;
    if (stream == nullptr)
        return InvalidParameter;
    try {
        DecodedPng decoded;
        decoded.rows = TakeRowBuffer();
        bool ok = false;
        if (!DecodeInPlace(stream, decoded, &ok)) {
            std::vector<uint8_t> bytes;
            if (!ReadRest(stream, bytes))
                return Win32Error;
            ok = DecodePng(bytes.data(), bytes.size(), decoded, ImagingWorkers());
        }
        if (!ok)
            return UnknownImageFormat;
        auto* made = new ImagingBitmap;
        made->width = decoded.width;
        made->height = decoded.height;
        made->pixels = decoded.pixels;
        made->format = FormatOfPixels(decoded.pixels);
        made->stride = ptrdiff_t(decoded.stride);
        made->ownedRows = std::move(decoded.rows);
        made->firstRow = made->ownedRows.data();
        stream->AddRef();
        made->source = stream;
        if (!RegisterBitmap(made))
            return OutOfMemory;
        *bitmap = made;
        return Ok;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}
