// The driver's single entry point: every message the video compression
// manager sends is either answered here with a fixed value or handed to
// exactly one handler.
#include "codec/compress.h"
#include "codec/decompress.h"
#include "codes.h"
#include "driver/handlers.h"
#include "format/compress_format.h"
#include "format/decompress_format.h"

namespace {

auto* Header(LPARAM value) { return reinterpret_cast<BITMAPINFOHEADER*>(value); }

}  // namespace

CODEC_EXPORT LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR /*driverHandle*/, UINT message,
                                       LPARAM lParam1, LPARAM lParam2)
{
    auto* instance = reinterpret_cast<CodecInstance*>(driverId);

    switch (message) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE:
    case DRV_INSTALL:
    case DRV_REMOVE:
        return 1;
    case DRV_OPEN:
        return reinterpret_cast<LRESULT>(OpenInstance(reinterpret_cast<ICOPEN*>(lParam2)));
    case DRV_CLOSE:
        CloseInstance(instance);
        return 1;
    case DRV_CONFIGURE:
    case DRV_QUERYCONFIGURE:
        return 0;

    case ICM_COMPRESS_GET_FORMAT:
        return OnCompressGetFormat(Header(lParam1), Header(lParam2));
    case ICM_COMPRESS_GET_SIZE:
        return OnCompressGetSize(Header(lParam1));
    case ICM_COMPRESS_QUERY:
        return OnCompressQuery(Header(lParam1), Header(lParam2));
    case ICM_COMPRESS:
        return OnCompress(reinterpret_cast<ICCOMPRESS*>(lParam1), instance);
    case ICM_DECOMPRESS_GET_FORMAT:
        return OnDecompressGetFormat(Header(lParam1), Header(lParam2));
    case ICM_DECOMPRESS_QUERY:
        return OnDecompressQuery(Header(lParam1), Header(lParam2));
    case ICM_DECOMPRESS:
        return OnDecompress(reinterpret_cast<ICDECOMPRESS*>(lParam1));

    case ICM_COMPRESS_BEGIN:
    case ICM_COMPRESS_END:
    case ICM_DECOMPRESS_BEGIN:
    case ICM_DECOMPRESS_END:
    case ICM_COMPRESS_FRAMES_INFO:
    case ICM_GETSTATE:
    case ICM_SETSTATE:
    case ICM_SET:
    case ICM_GET:
        return 0;

    case ICM_GETINFO:
        return OnGetInfo(reinterpret_cast<ICINFO*>(lParam1), lParam2);
    case ICM_ABOUT:
        return OnAbout(reinterpret_cast<HWND>(lParam1));

    default:
        return ICERR_UNSUPPORTED;
    }
}
