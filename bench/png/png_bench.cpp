// Encodes and decodes sets of raw frames with the fast writer and reader.
//
//   png_bench SET=WIDTHxHEIGHT:LAYOUT:FILE ... [--workers=N,M,...] [benchmark flags]
//
// FILE holds whole frames back to back in LAYOUT (bgr24, bgra, gray or
// gray16le, as ffmpeg names them). Each iteration codes every frame of a
// set once; counters give raw and PNG bytes so that sizes and speeds can
// be compared with other encoders on the same frames. --workers lists the
// pool sizes to run (threads per frame, the calling one included; 1, the
// default, means no pool). The bytes are the same for every size; compare
// wall-clock times of the sizes within one run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/png/simd_path.h"
#include "platform/png/png.h"
#include "platform/png/worker_pool.h"

namespace {

struct FrameSet {
    std::string name;
    uint32_t width = 0;
    uint32_t height = 0;
    PngPixels pixels = PngPixels::Bgr24;
    std::vector<uint8_t> raw;
    std::vector<std::vector<uint8_t>> pngs;

    size_t FrameBytes() const { return size_t{width} * height * PngBytesPerPixel(pixels); }
    size_t Frames() const { return raw.size() / FrameBytes(); }
};

bool ParseLayout(const std::string& text, PngPixels& pixels)
{
    if (text == "bgr24")
        pixels = PngPixels::Bgr24;
    else if (text == "bgra")
        pixels = PngPixels::Bgra32;
    else if (text == "gray")
        pixels = PngPixels::Index8;
    else if (text == "gray16le")
        pixels = PngPixels::Gray16;
    else
        return false;
    return true;
}

// "name=1920x1080:bgr24:/path/file"
bool ParseSet(const std::string& arg, FrameSet& set)
{
    const size_t eq = arg.find('='), x = arg.find('x'), c1 = arg.find(':'), c2 = arg.find(':', c1 + 1);
    if (eq == std::string::npos || x == std::string::npos || c1 == std::string::npos ||
        c2 == std::string::npos || !ParseLayout(arg.substr(c1 + 1, c2 - c1 - 1), set.pixels))
        return false;
    set.name = arg.substr(0, eq);
    set.width = static_cast<uint32_t>(std::stoul(arg.substr(eq + 1, x - eq - 1)));
    set.height = static_cast<uint32_t>(std::stoul(arg.substr(x + 1, c1 - x - 1)));
    std::ifstream in(arg.substr(c2 + 1), std::ios::binary);
    set.raw.assign(std::istreambuf_iterator<char>(in), {});
    return set.width != 0 && set.height != 0 && set.Frames() != 0;
}

PngSource Source(const FrameSet& set, size_t frame)
{
    const size_t rowBytes = size_t{set.width} * PngBytesPerPixel(set.pixels);
    return {set.width, set.height, set.pixels, set.raw.data() + frame * set.FrameBytes(),
            static_cast<ptrdiff_t>(rowBytes)};
}

// One pool per size, built before any benchmark runs; none for size 1.
std::map<int64_t, std::unique_ptr<PngWorkers>> pools;

PngWorkers* Pool(const benchmark::State& state)
{
    return pools[state.range(1)].get();
}

void Encode(benchmark::State& state, FrameSet* set)
{
    PngForceSimdPath(static_cast<PngSimdPath>(state.range(0)));
    PngWorkers* workers = Pool(state);
    std::vector<uint8_t> png;
    size_t outBytes = 0;
    for (auto _ : state) {
        outBytes = 0;
        for (size_t f = 0; f < set->Frames(); ++f) {
            png.clear();
            if (!EncodePng(Source(*set, f), png, workers))
                state.SkipWithError("encoding failed");
            outBytes += png.size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->raw.size()));
    state.counters["raw_bytes"] = static_cast<double>(set->raw.size());
    state.counters["png_bytes"] = static_cast<double>(outBytes);
    PngForceSimdPath(PngBestSimdPath());
}

void Decode(benchmark::State& state, FrameSet* set)
{
    PngForceSimdPath(static_cast<PngSimdPath>(state.range(0)));
    PngWorkers* workers = Pool(state);
    DecodedPng decoded;
    size_t pngBytes = 0;
    for (const auto& png : set->pngs)
        pngBytes += png.size();
    for (auto _ : state) {
        for (const auto& png : set->pngs) {
            if (!DecodePng(png.data(), png.size(), decoded, workers))
                state.SkipWithError("the fast reader declined a frame");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->raw.size()));
    state.counters["raw_bytes"] = static_cast<double>(set->raw.size());
    state.counters["png_bytes"] = static_cast<double>(pngBytes);
    PngForceSimdPath(PngBestSimdPath());
}

} // namespace

int main(int argc, char** argv)
{
    static std::vector<FrameSet> sets;
    std::vector<char*> rest = {argv[0]};
    std::vector<unsigned> sizes;
    for (int i = 1; i < argc; ++i) {
        FrameSet set;
        if (std::strncmp(argv[i], "--workers=", 10) == 0) {
            for (const char* p = argv[i] + 10; *p != 0; p += *p == ',' ? 1 : 0) {
                char* end = nullptr;
                const unsigned long n = std::strtoul(p, &end, 10);
                if (end == p || n == 0 || n > 256) {
                    std::fprintf(stderr, "bad worker count in %s\n", argv[i]);
                    return 2;
                }
                sizes.push_back(static_cast<unsigned>(n));
                p = end;
            }
        } else if (std::strchr(argv[i], '=') != nullptr && argv[i][0] != '-') {
            if (!ParseSet(argv[i], set)) {
                std::fprintf(stderr, "cannot read frame set %s\n", argv[i]);
                return 2;
            }
            sets.push_back(std::move(set));
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (sets.empty()) {
        std::fprintf(stderr, "usage: %s NAME=WxH:LAYOUT:FILE ... [benchmark flags]\n", argv[0]);
        return 2;
    }
    if (sizes.empty())
        sizes.push_back(1);
    for (unsigned size : sizes)
        pools[size] = size > 1 ? std::make_unique<PngWorkers>(size) : nullptr;
    for (FrameSet& set : sets) {
        for (size_t f = 0; f < set.Frames(); ++f) {
            set.pngs.emplace_back();
            EncodePng(Source(set, f), set.pngs.back());
        }
        for (int path = 0; path <= static_cast<int>(PngBestSimdPath()); ++path) {
            // Run names end in /PATH/WORKERS. Wall-clock time, with the
            // process's CPU time beside it, so that the pool's gain shows.
            for (unsigned size : sizes) {
                benchmark::RegisterBenchmark(("Encode/" + set.name).c_str(), Encode, &set)
                    ->Args({path, size})->Unit(benchmark::kMillisecond)
                    ->MeasureProcessCPUTime()->UseRealTime();
                benchmark::RegisterBenchmark(("Decode/" + set.name).c_str(), Decode, &set)
                    ->Args({path, size})->Unit(benchmark::kMillisecond)
                    ->MeasureProcessCPUTime()->UseRealTime();
            }
        }
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
