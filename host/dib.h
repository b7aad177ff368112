// DIB layouts the host builds: row sizes and the format headers it hands
// the codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "talverox.h"

// Bytes in one DIB row: bits rounded up to whole 32-bit words.
constexpr size_t DibRowBytes(uint32_t bitCount, uint32_t width)
{
    return (static_cast<size_t>(bitCount) * width + 31) / 32 * 4;
}

// A BITMAPINFOHEADER with whatever follows it (the 256-entry palette of an
// 8-bit format). Kept in 32-bit words so the header is suitably aligned.
class DibFormat {
public:
    DibFormat() = default;
    // A copy of `size` bytes; `size` must be at least 40.
    DibFormat(const void* bytes, size_t size);
    // Room for `size` zero bytes.
    explicit DibFormat(size_t size);

    BITMAPINFOHEADER* Header() { return reinterpret_cast<BITMAPINFOHEADER*>(words_.data()); }
    const BITMAPINFOHEADER* Header() const
    {
        return reinterpret_cast<const BITMAPINFOHEADER*>(words_.data());
    }
    uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(words_.data()); }
    const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(words_.data()); }
    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }

private:
    std::vector<uint32_t> words_;
    size_t size_ = 0;
};

// The uncompressed bottom-up format of `width` x `height` pixels at
// `bitCount` bits: biSizeImage = DibRowBytes x height, and for 8 bits the
// 256-level gray ramp after the header.
DibFormat MakeRgbFormat(uint32_t width, uint32_t height, uint32_t bitCount);

// "1280x720x24 BI_RGB", "64x48x8 'MPNG'": how errors name a format.
std::string DescribeFormat(const BITMAPINFOHEADER& header);

// The four characters of a FOURCC, non-printing bytes as '?'.
std::string FourccText(uint32_t fourcc);
