#include "frames.h"

#include <cstdio>
#include <cstring>

uint32_t RowBytes(int bits, int width)
{
    return static_cast<uint32_t>((bits * width + 31) / 32 * 4);
}

uint32_t PixelBytes(int bits, int width)
{
    return static_cast<uint32_t>((bits * width + 7) / 8);
}

DibFormat MakeFormat(int width, int height, int bits)
{
    DibFormat format;
    format.bytes.assign(sizeof(BITMAPINFOHEADER) + (bits == 8 ? 256 * sizeof(RGBQUAD) : 0), 0);
    BITMAPINFOHEADER* header = format.header();
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = static_cast<WORD>(bits);
    header->biCompression = BI_RGB;
    header->biSizeImage = RowBytes(bits, width) * static_cast<uint32_t>(height);
    if (bits == 8) {
        header->biClrUsed = 256;
        // Colours, not the gray ramp: the indices must survive whatever the
        // palette says.
        auto* palette = reinterpret_cast<RGBQUAD*>(header + 1);
        for (int i = 0; i < 256; ++i)
            palette[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(255 - i),
                                 static_cast<BYTE>(i * 7), 0};
    }
    return format;
}

std::vector<uint8_t> MakeFrame(int width, int height, int bits, int index)
{
    const uint32_t rowBytes = RowBytes(bits, width);
    const int bytesPerPixel = bits / 8;
    std::vector<uint8_t> rows(rowBytes * static_cast<uint32_t>(height), 0);
    uint32_t noise = 0x9E3779B9u * static_cast<uint32_t>(index + 1);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = rows.data() + rowBytes * static_cast<uint32_t>(y);
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < bytesPerPixel; ++c) {
                noise = noise * 1664525u + 1013904223u;
                uint8_t value;
                if (index % 2 == 1)
                    value = static_cast<uint8_t>(c == 3 ? 255 : 40 * c + index);
                else if (y < height / 2)
                    value = static_cast<uint8_t>(noise >> 24);
                else
                    value = static_cast<uint8_t>(x * (c + 1) + y * 3 + index * 7);
                if (c == 3 && index % 2 == 0)
                    value = static_cast<uint8_t>(x % 3 == 0 ? 0 : x % 3 == 1 ? 255 : value);
                row[x * bytesPerPixel + c] = value;
            }
        }
    }
    return rows;
}

bool SamePixels(const uint8_t* expected, const uint8_t* actual, int width, int height, int bits,
                const char* what)
{
    const uint32_t rowBytes = RowBytes(bits, width);
    const uint32_t pixelBytes = PixelBytes(bits, width);
    for (int y = 0; y < height; ++y) {
        const uint8_t* a = expected + rowBytes * static_cast<uint32_t>(y);
        const uint8_t* b = actual + rowBytes * static_cast<uint32_t>(y);
        for (uint32_t i = 0; i < pixelBytes; ++i) {
            if (a[i] != b[i]) {
                std::fprintf(stderr, "%s: row %d byte %u: expected %u, got %u\n", what, y,
                             static_cast<unsigned>(i), a[i], b[i]);
                return false;
            }
        }
    }
    return true;
}

bool AppendRows(const std::string& path, const uint8_t* rows, int width, int height, int bits)
{
    FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr)
        return false;
    const uint32_t rowBytes = RowBytes(bits, width);
    const uint32_t pixelBytes = PixelBytes(bits, width);
    bool ok = true;
    for (int y = 0; y < height && ok; ++y)
        ok = std::fwrite(rows + rowBytes * static_cast<uint32_t>(y), 1, pixelBytes, file) == pixelBytes;
    return std::fclose(file) == 0 && ok;
}
