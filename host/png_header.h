// The picture a PNG frame holds, read from its IHDR chunk. Other writers'
// AVIs do not always say the frame's depth the DIB way (FFmpeg writes 40
// bits for 8-bit gray, 24 for 16-bit gray), so the host checks the stream
// header against the frames before handing it to the codec.
#pragma once

#include <cstddef>
#include <cstdint>

struct PngHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t bitDepth = 0;
    uint8_t colorType = 0;
};

// Reads the signature and IHDR of `data`. False when it is not a PNG.
bool ReadPngHeader(const uint8_t* data, size_t size, PngHeader& header);

// The DIB depth whose rows hold this PNG's pixels as the codec decodes them:
// 8 for gray and palette indices, 16 for 16-bit gray, 24 for colour, 32 for
// colour or gray with alpha. 0 for combinations PNG does not allow.
uint32_t DibDepthOfPng(const PngHeader& header);
