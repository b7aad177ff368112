#include "codec_session.h"

#include <string>

#include "codec_words.h"
#include "talverox.h"

// The module's one entry point, linked from libtalverox.so.
namespace {

// What the video compression manager marks every frame it compresses with.
constexpr DWORD kCompressKeyFrame = 0x00000001;
constexpr DWORD kQualityDefault = 0xFFFFFFFF;
// "00dc": compressed video of stream 0, the chunk id an AVI writer asks for.
constexpr DWORD kChunkVideo = MakeFourcc('0', '0', 'd', 'c');

LRESULT Call(DWORD_PTR id, UINT message, const void* param1, const void* param2)
{
    return DriverProc(id, nullptr, message, reinterpret_cast<LPARAM>(param1),
                      reinterpret_cast<LPARAM>(param2));
}

[[noreturn]] void Refused(UINT message, const BITMAPINFOHEADER& format, LRESULT result,
                          const std::string& extra = {})
{
    throw CodecError(RefusalWords(message, format, result, extra));
}

} // namespace

CodecDriver::CodecDriver()
{
    if (Call(0, DRV_LOAD, nullptr, nullptr) != 1)
        throw CodecError("the codec refused DRV_LOAD");
    if (Call(0, DRV_ENABLE, nullptr, nullptr) != 1) {
        Call(0, DRV_FREE, nullptr, nullptr);
        throw CodecError("the codec refused DRV_ENABLE");
    }
}

CodecDriver::~CodecDriver()
{
    Call(0, DRV_DISABLE, nullptr, nullptr);
    Call(0, DRV_FREE, nullptr, nullptr);
}

CodecHandle::CodecHandle(DWORD mode)
{
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = kFourccVidc;
    open.fccHandler = kFourccMpng;
    open.dwVersion = ICVERSION;
    open.dwFlags = mode;
    open.dwError = ICERR_ERROR;
    id_ = static_cast<DWORD_PTR>(Call(0, DRV_OPEN, nullptr, &open));
    if (id_ == 0)
        throw CodecError("the codec refused DRV_OPEN (vidc 'MPNG', " +
                         std::string(mode == ICMODE_COMPRESS ? "compress" : "decompress") +
                         "): " + ResultName(open.dwError));
}

CodecHandle::~CodecHandle()
{
    Call(id_, DRV_CLOSE, nullptr, nullptr);
}

LRESULT CodecHandle::Send(UINT message, const void* param1, const void* param2)
{
    return Call(id_, message, param1, param2);
}

Compressor::Compressor(const DibFormat& input) : codec_(ICMODE_COMPRESS), input_(input)
{
    const BITMAPINFOHEADER* in = input_.Header();
    LRESULT result = codec_.Send(ICM_COMPRESS_QUERY, in, nullptr);
    if (result != ICERR_OK)
        Refused(ICM_COMPRESS_QUERY, *in, result);

    const LRESULT formatSize = codec_.Send(ICM_COMPRESS_GET_FORMAT, in, nullptr);
    if (formatSize < static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)) || formatSize > 65536)
        Refused(ICM_COMPRESS_GET_FORMAT, *in, formatSize, " (asked for the format's size)");
    output_ = DibFormat(static_cast<size_t>(formatSize));
    result = codec_.Send(ICM_COMPRESS_GET_FORMAT, in, output_.Header());
    if (result != ICERR_OK)
        Refused(ICM_COMPRESS_GET_FORMAT, *in, result);

    // The manager sizes every output buffer from this answer; a frame whose
    // PNG would not fit is the codec's to refuse.
    const LRESULT size = codec_.Send(ICM_COMPRESS_GET_SIZE, in, output_.Header());
    if (size <= 0 || size > 0xFFFFFFFF)
        Refused(ICM_COMPRESS_GET_SIZE, *in, size, " (no usable buffer size)");
    bufferSize_ = static_cast<size_t>(size);
    buffer_.resize(bufferSize_);

    result = codec_.Send(ICM_COMPRESS_BEGIN, in, output_.Header());
    if (result != ICERR_OK)
        Refused(ICM_COMPRESS_BEGIN, *in, result);
    frameOutput_ = output_;
}

Compressor::~Compressor()
{
    codec_.Send(ICM_COMPRESS_END, nullptr, nullptr);
}

void Compressor::Compress(const uint8_t* rows, int32_t frameNumber, std::vector<uint8_t>& frame)
{
    BITMAPINFOHEADER* out = frameOutput_.Header();
    out->biSizeImage = static_cast<DWORD>(bufferSize_);
    DWORD chunkId = 0;
    DWORD frameFlags = 0;
    ICCOMPRESS compress{};
    compress.dwFlags = kCompressKeyFrame;
    compress.lpbiOutput = out;
    compress.lpOutput = buffer_.data();
    compress.lpbiInput = input_.Header();
    compress.lpInput = const_cast<uint8_t*>(rows);
    compress.lpckid = &chunkId;
    compress.lpdwFlags = &frameFlags;
    compress.lFrameNum = frameNumber;
    compress.dwQuality = kQualityDefault;
    const LRESULT result = codec_.Send(ICM_COMPRESS, &compress, reinterpret_cast<const void*>(sizeof compress));
    if (result != ICERR_OK) {
        Refused(ICM_COMPRESS, *input_.Header(), result,
                " at frame " + std::to_string(frameNumber) + " (output buffer " +
                    std::to_string(bufferSize_) + " bytes)");
    }
    const size_t size = out->biSizeImage;
    // A size beyond the buffer means the codec wrote past it: nothing after
    // that can be trusted.
    if (size == 0 || size > bufferSize_) {
        throw CodecError("ICM_COMPRESS on frame " + std::to_string(frameNumber) + " of " +
                         DescribeFormat(*input_.Header()) + " reported " + std::to_string(size) +
                         " bytes for a buffer of " + std::to_string(bufferSize_));
    }
    frame.assign(buffer_.data(), buffer_.data() + size);
}

Decompressor::Decompressor(const DibFormat& input) : codec_(ICMODE_DECOMPRESS), input_(input)
{
    const BITMAPINFOHEADER* in = input_.Header();
    LRESULT result = codec_.Send(ICM_DECOMPRESS_QUERY, in, nullptr);
    if (result != ICERR_OK)
        Refused(ICM_DECOMPRESS_QUERY, *in, result);

    const LRESULT formatSize = codec_.Send(ICM_DECOMPRESS_GET_FORMAT, in, nullptr);
    if (formatSize < static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)) || formatSize > 65536)
        Refused(ICM_DECOMPRESS_GET_FORMAT, *in, formatSize, " (asked for the format's size)");
    output_ = DibFormat(static_cast<size_t>(formatSize));
    result = codec_.Send(ICM_DECOMPRESS_GET_FORMAT, in, output_.Header());
    if (result != ICERR_OK)
        Refused(ICM_DECOMPRESS_GET_FORMAT, *in, result);

    const BITMAPINFOHEADER& out = *output_.Header();
    if (out.biWidth <= 0 || out.biHeight == 0 || out.biBitCount == 0 ||
        out.biWidth != in->biWidth || out.biHeight != in->biHeight)
        throw CodecError("ICM_DECOMPRESS_GET_FORMAT proposed " + DescribeFormat(out) + " for " +
                         DescribeFormat(*in) + ", which this host cannot lay out");
    const uint32_t height = out.biHeight < 0 ? 0u - static_cast<uint32_t>(out.biHeight)
                                             : static_cast<uint32_t>(out.biHeight);
    frameBytes_ = DibRowBytes(out.biBitCount, static_cast<uint32_t>(out.biWidth)) * height;

    result = codec_.Send(ICM_DECOMPRESS_QUERY, in, output_.Header());
    if (result != ICERR_OK)
        Refused(ICM_DECOMPRESS_QUERY, *in, result, " (with its own proposed output format)");
    result = codec_.Send(ICM_DECOMPRESS_BEGIN, in, output_.Header());
    if (result != ICERR_OK)
        Refused(ICM_DECOMPRESS_BEGIN, *in, result);
    frameInput_ = input_;
}

Decompressor::~Decompressor()
{
    codec_.Send(ICM_DECOMPRESS_END, nullptr, nullptr);
}

void Decompressor::Decompress(const uint8_t* frame, size_t size, int32_t frameNumber,
                              uint8_t* rows)
{
    frameInput_.Header()->biSizeImage = static_cast<DWORD>(size);
    ICDECOMPRESS decompress{};
    decompress.lpbiInput = frameInput_.Header();
    decompress.lpInput = const_cast<uint8_t*>(frame);
    decompress.lpbiOutput = output_.Header();
    decompress.lpOutput = rows;
    decompress.ckid = kChunkVideo;
    const LRESULT result =
        codec_.Send(ICM_DECOMPRESS, &decompress, reinterpret_cast<const void*>(sizeof decompress));
    if (result != ICERR_OK)
        Refused(ICM_DECOMPRESS, *input_.Header(), result,
                " at frame " + std::to_string(frameNumber) + " (" + std::to_string(size) +
                    " bytes)");
}
