#include "codec_words.h"

#include <cstdio>

#include "talverox.h"
#include "talverox.h"

std::string MessageName(uint32_t message)
{
    switch (message) {
    case DRV_LOAD: return "DRV_LOAD";
    case DRV_ENABLE: return "DRV_ENABLE";
    case DRV_OPEN: return "DRV_OPEN";
    case DRV_CLOSE: return "DRV_CLOSE";
    case DRV_DISABLE: return "DRV_DISABLE";
    case DRV_FREE: return "DRV_FREE";
    case ICM_COMPRESS_GET_FORMAT: return "ICM_COMPRESS_GET_FORMAT";
    case ICM_COMPRESS_GET_SIZE: return "ICM_COMPRESS_GET_SIZE";
    case ICM_COMPRESS_QUERY: return "ICM_COMPRESS_QUERY";
    case ICM_COMPRESS_BEGIN: return "ICM_COMPRESS_BEGIN";
    case ICM_COMPRESS: return "ICM_COMPRESS";
    case ICM_COMPRESS_END: return "ICM_COMPRESS_END";
    case ICM_DECOMPRESS_GET_FORMAT: return "ICM_DECOMPRESS_GET_FORMAT";
    case ICM_DECOMPRESS_QUERY: return "ICM_DECOMPRESS_QUERY";
    case ICM_DECOMPRESS_BEGIN: return "ICM_DECOMPRESS_BEGIN";
    case ICM_DECOMPRESS: return "ICM_DECOMPRESS";
    case ICM_DECOMPRESS_END: return "ICM_DECOMPRESS_END";
    case ICM_GETINFO: return "ICM_GETINFO";
    default: break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "message 0x%04X", message);
    return text;
}

std::string ResultName(intptr_t result)
{
    const char* name = nullptr;
    switch (result) {
    case ICERR_OK: name = "ICERR_OK"; break;
    case ICERR_UNSUPPORTED: name = "ICERR_UNSUPPORTED"; break;
    case ICERR_BADFORMAT: name = "ICERR_BADFORMAT"; break;
    case ICERR_MEMORY: name = "ICERR_MEMORY"; break;
    case ICERR_ERROR: name = "ICERR_ERROR"; break;
    default: break;
    }
    if (name == nullptr)
        return "result " + std::to_string(result);
    return std::string(name) + " (" + std::to_string(result) + ")";
}

std::string RefusalWords(uint32_t message, const BITMAPINFOHEADER& format, intptr_t result,
                         const std::string& detail)
{
    const std::string described = DescribeFormat(format);
    const uint32_t depth = format.biBitCount;
    const bool hostDepth = depth == 8 || depth == 16 || depth == 24 || depth == 32;
    std::string what;
    std::string advice;
    switch (message) {
    case ICM_COMPRESS_QUERY:
    case ICM_COMPRESS_GET_FORMAT:
    case ICM_COMPRESS_GET_SIZE:
    case ICM_COMPRESS_BEGIN:
        what = "the codec cannot compress " + described + " frames";
        if (!hostDepth)
            advice = "; use --depth 24";
        break;
    case ICM_COMPRESS:
        what = "the codec could not compress the " + described + " stream";
        break;
    case ICM_DECOMPRESS_QUERY:
    case ICM_DECOMPRESS_GET_FORMAT:
    case ICM_DECOMPRESS_BEGIN:
        if (format.biCompression != kFourccMpng)
        {
            what = "the video stream is " + described + ", not MPNG";
            advice = "; talverox decodes only MPNG streams (ffmpeg -i reads most others)";
        }
        else
            what = "the codec cannot decompress " + described + " frames";
        break;
    case ICM_DECOMPRESS:
        what = "the codec could not decompress the " + described + " stream";
        advice = "; the frame is damaged or is not a PNG";
        break;
    default:
        what = "the codec refused " + described;
        break;
    }
    return what + detail + advice + " (" + MessageName(message) + ": " + ResultName(result) + ")";
}
