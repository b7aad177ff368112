// Which instruction set the writer and reader run on. Every path writes the
// same bytes and reads the same pixels; tests and benchmarks walk them all.
#pragma once

#include <cstdint>

enum class PngSimdPath : uint8_t {
    Portable,
    Sse41,
    Avx2,
    Avx512,  // the AVX2 kernels built for AVX-512 VL and BW
};

// The best path this processor supports.
PngSimdPath PngBestSimdPath();

// Makes every later call in this process use `path` (clamped to what the
// processor supports) and returns the path now in use. For tests and
// benchmarks; not thread-safe against concurrent coding.
PngSimdPath PngForceSimdPath(PngSimdPath path);
