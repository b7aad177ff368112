// Picks the kernels once per process from what the processor supports;
// tests and benchmarks may force a lesser path.
#include <atomic>

#include "platform/png/kernels.h"
#include "platform/png/simd_path.h"

using namespace pngcore;

namespace {

PngSimdPath DetectPath()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")) {
        if (__builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
            return PngSimdPath::Avx512;
        return PngSimdPath::Avx2;
    }
    if (__builtin_cpu_supports("sse4.1"))
        return PngSimdPath::Sse41;
#endif
    return PngSimdPath::Portable;
}

std::atomic<int>& ForcedPath()
{
    static std::atomic<int> path{-1};
    return path;
}

} // namespace

PngSimdPath PngBestSimdPath()
{
    static const PngSimdPath best = DetectPath();
    return best;
}

PngSimdPath PngForceSimdPath(PngSimdPath path)
{
    if (static_cast<int>(path) > static_cast<int>(PngBestSimdPath()))
        path = PngBestSimdPath();
    ForcedPath().store(static_cast<int>(path), std::memory_order_relaxed);
    return path;
}

const FastKernels& pngcore::ActiveKernels()
{
    const int forced = ForcedPath().load(std::memory_order_relaxed);
    const PngSimdPath path = forced < 0 ? PngBestSimdPath() : static_cast<PngSimdPath>(forced);
    switch (path) {
#if defined(__x86_64__) || defined(__i386__)
    case PngSimdPath::Avx512: return kAvx512Kernels;
    case PngSimdPath::Avx2: return kAvx2Kernels;
    case PngSimdPath::Sse41: return kSse41Kernels;
#endif
    default: return kPortableKernels;
    }
}
