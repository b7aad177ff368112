// Result codes the driver returns and the FOURCCs that name it.
#pragma once

#include <cstdint>

// The video compression manager's published error codes, signed; DriverProc
// returns them sign-extended to its pointer-sized result.
constexpr int32_t ICERR_OK = 0;
constexpr int32_t ICERR_UNSUPPORTED = -1;
constexpr int32_t ICERR_BADFORMAT = -2;
constexpr int32_t ICERR_MEMORY = -3;
constexpr int32_t ICERR_ERROR = -100;

constexpr uint32_t MakeFourcc(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// Compressed frames: 'M', 'P', 'N', 'G' in memory order.
constexpr uint32_t kFourccMpng = MakeFourcc('M', 'P', 'N', 'G');
// The driver type of video codecs.
constexpr uint32_t kFourccVidc = MakeFourcc('v', 'i', 'd', 'c');

static_assert(kFourccMpng == 0x474E504D);
static_assert(kFourccVidc == 0x63646976);
