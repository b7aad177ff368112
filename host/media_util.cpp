#include "media_util.h"

extern "C" {
#include <libavutil/error.h>
}

AVPixelFormat DibPixelFormat(uint32_t bitCount)
{
    switch (bitCount) {
    case 8: return AV_PIX_FMT_GRAY8;
    case 16: return AV_PIX_FMT_GRAY16LE;
    case 32: return AV_PIX_FMT_BGRA;
    default: return AV_PIX_FMT_BGR24;
    }
}

std::string AvErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}
