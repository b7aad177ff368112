// Decoded pictures into bottom-up DIB rows. One converter per thread: each
// keeps its own swscale context and scratch picture.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;

class PictureConverter {
public:
    // Rows of `width` x `height` pixels at `bitCount` bits (8 gray, 16
    // little-endian gray, 24 BGR, 32 BGRA).
    PictureConverter(uint32_t width, uint32_t height, uint32_t bitCount);
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // Converts `frame` into `rows`, each padded to 4 bytes with zeros. A
    // picture of another size is scaled to the converter's. YUV pictures
    // use the matrix and range they are tagged with. Throws std::runtime_error
    // when swscale cannot convert the pixel format.
    void Convert(const AVFrame& frame, std::vector<uint8_t>& rows);

private:
    void Prepare(const AVFrame& frame);

    uint32_t width_;
    uint32_t height_;
    uint32_t bitCount_;
    SwsContext* scaler_ = nullptr;
    // What scaler_ was made for.
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int sourceFormat_ = -1;
    int colorspace_ = -1;
    int range_ = -1;
    // swscale writes whole SIMD blocks, past the last pixel of a row; it
    // writes into this aligned, padded picture, never into the DIB rows.
    AVFrame* scratch_ = nullptr;
};
