// Uncompressed test frames as a video application hands them to the VCM:
// bottom-up DIB rows padded to four bytes, behind a BITMAPINFOHEADER that
// for 8 bits per pixel carries a 256-colour palette.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A BITMAPINFOHEADER and its palette in one buffer, as VfW passes formats.
struct DibFormat {
    std::vector<uint8_t> bytes;

    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes.data()); }
    const BITMAPINFOHEADER* header() const
    {
        return reinterpret_cast<const BITMAPINFOHEADER*>(bytes.data());
    }
};

// Bytes in one DIB row of `bits` per pixel, padded to a multiple of 4.
uint32_t RowBytes(int bits, int width);

// Bytes of pixel data in one row, padding excluded.
uint32_t PixelBytes(int bits, int width);

// An uncompressed bottom-up BI_RGB format; 8 bits get a colour palette.
DibFormat MakeFormat(int width, int height, int bits);

// Frame `index` of a clip: gradients that move with the index, a patch of
// noise that covers every byte value, and for 32 bits alpha values from 0
// (fully transparent) to 255. Odd frames are mostly flat, so they encode
// shorter than the even ones before them. Pad bytes are zero.
std::vector<uint8_t> MakeFrame(int width, int height, int bits, int index);

// Compares the pixel bytes of every row (not the pad bytes); prints the
// first difference under `what` and returns whether all rows matched.
bool SamePixels(const uint8_t* expected, const uint8_t* actual, int width, int height, int bits,
                const char* what);

// Appends the frame's rows, in memory order and without padding, to a file:
// the layout of ffmpeg's rawvideo output for the same picture.
bool AppendRows(const std::string& path, const uint8_t* rows, int width, int height, int bits);
