// What the source's pixel format means for the DIB depth: the depth that
// keeps every sample, and what a given depth loses.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

// Whether the format's samples are luma and chroma (rather than RGB, gray
// or palette indices): those take a colour matrix to become RGB.
bool IsYuv(AVPixelFormat format);

// 8 for gray of up to 8 bits, 16 for deeper gray, 32 for anything with
// alpha, 24 for the rest.
uint32_t LosslessDepth(AVPixelFormat format);

// One sentence saying what becomes of `format` pictures (tagged with
// `colorspace` and `range`) as `depth`-bit DIB rows, and how to avoid it;
// empty when nothing is lost.
std::string LossNote(AVPixelFormat format, AVColorSpace colorspace, AVColorRange range,
                     uint32_t depth);
