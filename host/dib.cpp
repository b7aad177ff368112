#include "dib.h"

#include <cstring>
#include <string>

DibFormat::DibFormat(const void* bytes, size_t size) : DibFormat(size)
{
    std::memcpy(words_.data(), bytes, size);
}

DibFormat::DibFormat(size_t size) : words_((size + 3) / 4, 0), size_(size) {}

DibFormat MakeRgbFormat(uint32_t width, uint32_t height, uint32_t bitCount)
{
    const bool palette = bitCount == 8;
    DibFormat format(sizeof(BITMAPINFOHEADER) + (palette ? 256 * sizeof(RGBQUAD) : 0));
    BITMAPINFOHEADER& h = *format.Header();
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = static_cast<LONG>(width);
    h.biHeight = static_cast<LONG>(height);
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(DibRowBytes(bitCount, width) * height);
    if (palette) {
        h.biClrUsed = 256;
        auto* entries = reinterpret_cast<RGBQUAD*>(format.Bytes() + sizeof(BITMAPINFOHEADER));
        for (int i = 0; i < 256; ++i) {
            const auto level = static_cast<BYTE>(i);
            entries[i] = RGBQUAD{level, level, level, 0};
        }
    }
    return format;
}

std::string FourccText(uint32_t fourcc)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<char>((fourcc >> shift) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

std::string DescribeFormat(const BITMAPINFOHEADER& header)
{
    std::string text = std::to_string(header.biWidth);
    text += 'x';
    text += std::to_string(header.biHeight);
    text += 'x';
    text += std::to_string(header.biBitCount);
    if (header.biCompression == BI_RGB) {
        text += " BI_RGB";
    } else {
        text += " '";
        text += FourccText(header.biCompression);
        text += '\'';
    }
    return text;
}
