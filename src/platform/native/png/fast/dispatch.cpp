// Picks the kernels once per process from what the processor supports;
// tests and benchmarks may force a lesser path.
#include <atomic>

#include "platform/native/png/fast/fast_png.h"
#include "platform/native/png/fast/kernels.h"

using namespace fastpng;

namespace {

FastPngPath DetectPath()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2"))
        return FastPngPath::Avx2;
    if (__builtin_cpu_supports("sse4.1"))
        return FastPngPath::Sse41;
#endif
    return FastPngPath::Portable;
}

std::atomic<int>& ForcedPath()
{
    static std::atomic<int> path{-1};
    return path;
}

} // namespace

FastPngPath FastPngBestPath()
{
    static const FastPngPath best = DetectPath();
    return best;
}

FastPngPath FastPngForcePath(FastPngPath path)
{
    if (static_cast<int>(path) > static_cast<int>(FastPngBestPath()))
        path = FastPngBestPath();
    ForcedPath().store(static_cast<int>(path), std::memory_order_relaxed);
    return path;
}

const FastKernels& fastpng::ActiveKernels()
{
    const int forced = ForcedPath().load(std::memory_order_relaxed);
    const FastPngPath path = forced < 0 ? FastPngBestPath() : static_cast<FastPngPath>(forced);
    switch (path) {
#if defined(__x86_64__) || defined(__i386__)
    case FastPngPath::Avx2: return kAvx2Kernels;
    case FastPngPath::Sse41: return kSse41Kernels;
#endif
    default: return kPortableKernels;
    }
}
