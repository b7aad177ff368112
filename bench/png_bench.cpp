// Google Benchmark of the PNG writer and reader on photographic 1080p
// BGR24 frames: EncodePng as dispatched, the libdeflate writer at several
// settings, the readers on the libdeflate writer's PNGs, and the filters. Make the frames with bench/make_frames and name the file
// in TALVEROX_BENCH_FRAMES. "ratio" is PNG bytes over raw bytes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/native/png/png_codec.h"
#include "platform/native/png/png_filter.h"
#include "platform/native/png/png_reader.h"
#include "platform/native/png/png_writer.h"

namespace {

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 3;

const std::vector<uint8_t>& Frames()
{
    static const std::vector<uint8_t> frames = [] {
        const char* path = std::getenv("TALVEROX_BENCH_FRAMES");
        if (path == nullptr)
            return std::vector<uint8_t>();
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
        bytes.resize(bytes.size() / kFrameBytes * kFrameBytes);
        return bytes;
    }();
    return frames;
}

size_t FrameCount() { return Frames().size() / kFrameBytes; }

PngSource Frame(size_t i)
{
    return {kWidth, kHeight, PngPixels::Bgr24, Frames().data() + i * kFrameBytes,
            ptrdiff_t{kWidth} * 3};
}

bool NeedFrames(benchmark::State& state)
{
    if (FrameCount() != 0)
        return true;
    state.SkipWithError("set TALVEROX_BENCH_FRAMES to a file from bench/make_frames");
    return false;
}

void RunEncode(benchmark::State& state, const PngWriterOptions* options)
{
    if (!NeedFrames(state))
        return;
    // Every iteration encodes every frame, so "ratio" is over the same set
    // for every setting.
    std::vector<uint8_t> out;
    size_t rawBytes = 0;
    size_t pngBytes = 0;
    for (auto _ : state) {
        for (size_t frame = 0; frame < FrameCount(); ++frame) {
            out.clear();
            const bool ok = options != nullptr ? WritePng(Frame(frame), *options, out)
                                               : EncodePng(Frame(frame), out);
            if (!ok) {
                state.SkipWithError("encoding failed");
                return;
            }
            rawBytes += kFrameBytes;
            pngBytes += out.size();
        }
    }
    state.SetBytesProcessed(int64_t(rawBytes));
    state.counters["ratio"] = double(pngBytes) / double(rawBytes);
}

void BM_EncodePng(benchmark::State& state) { RunEncode(state, nullptr); }
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);

// Arguments: deflate level, then 0 for paeth on every row, 1 for a per-row choice.
void BM_WritePng(benchmark::State& state)
{
    const PngWriterOptions options{int(state.range(0)), state.range(1) == 0
                                                            ? PngFilterChoice::Paeth
                                                            : PngFilterChoice::PerRow};
    RunEncode(state, &options);
}
BENCHMARK(BM_WritePng)
    ->ArgsProduct({{1, 2, 3, 4, 6}, {0, 1}})
    ->ArgNames({"level", "per_row"})
    ->Unit(benchmark::kMillisecond);

// Argument: 0 for DecodePng as dispatched, 1 for the libdeflate reader
// (ReadPng), 2 for libspng alone.
void BM_DecodePng(benchmark::State& state)
{
    if (!NeedFrames(state))
        return;
    std::vector<std::vector<uint8_t>> pngs(FrameCount());
    for (size_t i = 0; i < pngs.size(); ++i)
        WritePng(Frame(i), kPngWriterDefaults, pngs[i]);
    size_t frame = 0;
    size_t rawBytes = 0;
    for (auto _ : state) {
        DecodedPng decoded;
        const uint8_t* png = pngs[frame].data();
        const size_t size = pngs[frame].size();
        const bool ok = state.range(0) == 0   ? DecodePng(png, size, decoded)
                        : state.range(0) == 1 ? ReadPng(png, size, decoded)
                                              : ReadPngWithSpng(png, size, decoded);
        if (!ok) {
            state.SkipWithError("decoding failed");
            return;
        }
        rawBytes += kFrameBytes;
        frame = (frame + 1) % pngs.size();
    }
    state.SetBytesProcessed(int64_t(rawBytes));
}
BENCHMARK(BM_DecodePng)->DenseRange(0, 2)->ArgName("reader")->Unit(benchmark::kMillisecond);

// One 1080p row of 24-bit pixels through each filter. Argument: filter
// number; the set is portable or AVX2.
void RunFilter(benchmark::State& state, const PngFilterSet* set)
{
    if (set == nullptr) {
        state.SkipWithError("CPU lacks AVX2");
        return;
    }
    if (!NeedFrames(state))
        return;
    const size_t rowBytes = size_t{kWidth} * 3;
    std::vector<uint8_t> out(rowBytes);
    const uint8_t* rows = Frames().data();
    for (auto _ : state) {
        for (uint32_t r = 1; r < kHeight; ++r)
            set->row[state.range(0)](rows + r * rowBytes, rows + (r - 1) * rowBytes, rowBytes, 3,
                                     out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(rowBytes) * (kHeight - 1));
}

void BM_FilterPortable(benchmark::State& state) { RunFilter(state, &PngFiltersPortable()); }
void BM_FilterAvx2(benchmark::State& state) { RunFilter(state, PngFiltersAvx2()); }
BENCHMARK(BM_FilterPortable)->DenseRange(1, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilterAvx2)->DenseRange(1, 4)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
