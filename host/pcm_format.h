// Interleaved 16-bit little-endian PCM: what the host stores as audio.
#pragma once

#include <cstdint>

struct PcmFormat {
    uint32_t channels = 0; // 0: no audio
    uint32_t sampleRate = 0;
    uint32_t BlockAlign() const { return channels * 2; }
};
