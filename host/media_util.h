// Small helpers shared by the libav* input and output.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

// The libav* pixel format whose bytes match DIB rows of `bitCount` bits.
AVPixelFormat DibPixelFormat(uint32_t bitCount);

// libav*'s words for an error code.
std::string AvErrorText(int error);
