// Building DIB frames and sending them through ICM_COMPRESS and
// ICM_DECOMPRESS, with guard regions around every buffer the codec writes.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "format/dib.h"
#include "tests/support/driver.h"

constexpr uint8_t kGuardByte = 0xE7;
constexpr size_t kGuardBytes = 64;

// A buffer of `size` usable bytes between two guard regions.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size, uint8_t fill = 0)
        : bytes_(size + 2 * kGuardBytes, kGuardByte), size_(size)
    {
        std::memset(data(), fill, size);
    }
    uint8_t* data() { return bytes_.data() + kGuardBytes; }
    const uint8_t* data() const { return bytes_.data() + kGuardBytes; }
    size_t size() const { return size_; }
    bool GuardsIntact() const
    {
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (bytes_[i] != kGuardByte || bytes_[kGuardBytes + size_ + i] != kGuardByte)
                return false;
        return true;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t size_;
};

// An uncompressed bottom-up frame with rows DibRowBytes apart.
struct Frame {
    FormatBuffer format{};
    std::vector<uint8_t> rows;

    Frame(int32_t width, int32_t height, uint16_t bitCount)
    {
        const int32_t rowBytes = DibRowBytes(bitCount, width);
        format.header = DibHeader(width, height, bitCount,
                                  static_cast<uint32_t>(rowBytes) * static_cast<uint32_t>(
                                                                        height < 0 ? -height : height));
        if (bitCount == 8)
            FillGrayPalette(&format.header);
        rows.assign(format.header.biSizeImage, 0);
    }
    int32_t RowBytes() const { return DibRowBytes(format.header.biBitCount, format.header.biWidth); }
    int32_t PixelBytes() const { return (format.header.biWidth * format.header.biBitCount + 7) / 8; }
    uint8_t* Row(int32_t r) { return rows.data() + static_cast<size_t>(r) * RowBytes(); }

    void FillRandom(uint32_t seed)
    {
        std::mt19937 random(seed);
        for (auto& b : rows)
            b = static_cast<uint8_t>(random());
    }
};

// A compressed frame as a host keeps it: its header and its bytes.
struct CompressedFrame {
    FormatBuffer format{};
    std::vector<uint8_t> bytes;
};

// The result of one ICM_COMPRESS, with the output buffer as the host sized it.
struct CompressResult {
    LRESULT result = 0;
    CompressedFrame frame;
    bool guardsIntact = true;
};

inline CompressResult CompressFrame(DWORD_PTR id, Frame& frame)
{
    CompressResult out;
    BITMAPINFOHEADER& input = frame.format.header;
    Send(id, ICM_COMPRESS_GET_FORMAT, &frame.format, &out.frame.format);
    const auto capacity = static_cast<size_t>(static_cast<DWORD>(Send(id, ICM_COMPRESS_GET_SIZE, &input)));
    GuardedBuffer buffer(capacity, 0x11);

    DWORD ckid = 0xC0FFEE;
    DWORD flags = 0xF1A65;
    ICCOMPRESS compress{};
    compress.lpbiInput = &input;
    compress.lpInput = frame.rows.data();
    compress.lpbiOutput = &out.frame.format.header;
    compress.lpOutput = buffer.data();
    compress.lpckid = &ckid;
    compress.lpdwFlags = &flags;
    out.result = Send(id, ICM_COMPRESS, &compress);
    out.guardsIntact = buffer.GuardsIntact() && ckid == 0xC0FFEE && flags == 0xF1A65;
    if (out.result == ICERR_OK) {
        const size_t size = out.frame.format.header.biSizeImage;
        out.frame.bytes.assign(buffer.data(), buffer.data() + (size < capacity ? size : capacity));
    }
    return out;
}

// The result of one ICM_DECOMPRESS into the format the codec proposed (or
// the one given).
struct DecompressResult {
    LRESULT result = 0;
    FormatBuffer format{};
    std::vector<uint8_t> rows;
    bool guardsIntact = true;
};

inline DecompressResult DecompressInto(DWORD_PTR id, const BITMAPINFOHEADER& compressed,
                                       const uint8_t* bytes, const BITMAPINFOHEADER& output,
                                       uint8_t fill = 0x3C)
{
    DecompressResult out;
    out.format.header = output;
    const int32_t rowBytes = DibRowBytes(output.biBitCount, output.biWidth);
    const int64_t height = output.biHeight < 0 ? -int64_t{output.biHeight} : output.biHeight;
    const size_t size = rowBytes > 0 ? static_cast<size_t>(rowBytes) * static_cast<size_t>(height) : 0;
    GuardedBuffer buffer(size, fill);

    BITMAPINFOHEADER input = compressed;
    ICDECOMPRESS decompress{};
    decompress.lpbiInput = &input;
    decompress.lpInput = const_cast<uint8_t*>(bytes);
    decompress.lpbiOutput = &out.format.header;
    decompress.lpOutput = buffer.data();
    out.result = Send(id, ICM_DECOMPRESS, &decompress);
    out.guardsIntact = buffer.GuardsIntact();
    out.rows.assign(buffer.data(), buffer.data() + size);
    return out;
}

inline DecompressResult DecompressFrame(DWORD_PTR id, const CompressedFrame& frame)
{
    BITMAPINFOHEADER input = frame.format.header;
    input.biSizeImage = static_cast<DWORD>(frame.bytes.size());
    FormatBuffer proposed{};
    Send(id, ICM_DECOMPRESS_GET_FORMAT, &input, &proposed);
    return DecompressInto(id, input, frame.bytes.data(), proposed.header);
}

// Opens one instance for a test and closes it afterwards.
class CodecSession {
public:
    CodecSession() : id_(OpenCodec()) {}
    ~CodecSession()
    {
        if (id_ != 0)
            Send(id_, DRV_CLOSE);
    }
    CodecSession(const CodecSession&) = delete;
    CodecSession& operator=(const CodecSession&) = delete;
    DWORD_PTR id() const { return id_; }

private:
    DWORD_PTR id_;
};
