// Sending messages to the driver the way the video compression manager does.
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "codes.h"
#include "platform/platform.h"

CODEC_EXPORT LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driverHandle, UINT message,
                                       LPARAM lParam1, LPARAM lParam2);
CODEC_EXPORT LONG WINAPI Configure(HWND window, LPARAM, LPARAM, LPARAM);

template <typename A = LPARAM, typename B = LPARAM>
LRESULT Send(DWORD_PTR driverId, UINT message, A lParam1 = 0, B lParam2 = 0)
{
    auto asParam = [](auto value) {
        if constexpr (std::is_pointer_v<decltype(value)>)
            return reinterpret_cast<LPARAM>(value);
        else
            return static_cast<LPARAM>(value);
    };
    return DriverProc(driverId, nullptr, message, asParam(lParam1), asParam(lParam2));
}

// A format header with room for the 256-entry palette of 8-bit formats.
struct FormatBuffer {
    BITMAPINFOHEADER header;
    RGBQUAD palette[256];
};
static_assert(sizeof(FormatBuffer) == 1064);

inline BITMAPINFOHEADER DibHeader(int32_t width, int32_t height, uint16_t bitCount,
                                  uint32_t sizeImage)
{
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bitCount;
    header.biCompression = BI_RGB;
    header.biSizeImage = sizeImage;
    return header;
}

// Opens an instance as the VCM does; returns its driver id (0 when refused).
inline DWORD_PTR OpenCodec(ICOPEN* open = nullptr)
{
    ICOPEN local{};
    local.dwSize = sizeof local;
    local.fccType = kFourccVidc;
    local.fccHandler = kFourccMpng;
    return static_cast<DWORD_PTR>(Send(0, DRV_OPEN, 0, open != nullptr ? open : &local));
}
