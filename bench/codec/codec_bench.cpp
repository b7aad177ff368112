// ICM_COMPRESS and ICM_DECOMPRESS through DriverProc on photographic 1080p
// frames at 24 and 32 bits, beside the PNG writer and reader called
// directly on the same frames, so the time the codec spends outside PNG
// coding (wrapping, scratch stream, read-back, copies) shows as a share.
//
// Make the frames with bench/make_frames and name the file in
// TALVEROX_BENCH_FRAMES, then run build/native/bench/codec/codec_bench.
// Large frames are coded in bands on the imaging runtime's pool, one thread
// per core the process may use: compare `taskset -c 0` with `taskset -c 0,1`.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/png/png.h"
#include "tests/support/frames.h"

namespace {

// The frames' size: 1920x1080 unless TALVEROX_BENCH_SIZE says WIDTHxHEIGHT
// (bench/make_frames writes either).
std::pair<int32_t, int32_t> FrameSize()
{
    int width = 1920, height = 1080;
    if (const char* size = std::getenv("TALVEROX_BENCH_SIZE"))
        std::sscanf(size, "%dx%d", &width, &height);
    return {width, height};
}
const int32_t kWidth = FrameSize().first;
const int32_t kHeight = FrameSize().second;

// Frames as bottom-up DIB rows of the given depth; 32-bit frames get an
// alpha ramp so alpha is not constant.
const std::vector<Frame>& Frames(uint16_t bitCount)
{
    static const std::vector<uint8_t> bgr = [] {
        const char* path = std::getenv("TALVEROX_BENCH_FRAMES");
        std::vector<uint8_t> bytes;
        if (path != nullptr) {
            std::ifstream in(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return bytes;
    }();
    static std::vector<Frame> frames24;
    static std::vector<Frame> frames32;
    std::vector<Frame>& frames = bitCount == 24 ? frames24 : frames32;
    const size_t frameBytes = static_cast<size_t>(kWidth) * kHeight * 3;
    if (frames.empty()) {
        for (size_t at = 0; at + frameBytes <= bgr.size(); at += frameBytes) {
            Frame frame(kWidth, kHeight, bitCount);
            const uint8_t* source = bgr.data() + at;
            for (size_t p = 0; p < static_cast<size_t>(kWidth) * kHeight; ++p) {
                if (bitCount == 24) {
                    std::memcpy(frame.rows.data() + 3 * p, source + 3 * p, 3);
                } else {
                    std::memcpy(frame.rows.data() + 4 * p, source + 3 * p, 3);
                    frame.rows[4 * p + 3] = static_cast<uint8_t>(255 - (p % kWidth) / 8);
                }
            }
            frames.push_back(std::move(frame));
        }
    }
    return frames;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of the whole process (every thread, user and system), which a
// busy host's stolen time does not inflate: the measure ffmpeg's figures
// and the PNG benchmarks use.
double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

PngSource AsSource(const Frame& frame)
{
    return {static_cast<uint32_t>(kWidth), static_cast<uint32_t>(kHeight),
            frame.format.header.biBitCount == 24 ? PngPixels::Bgr24 : PngPixels::Bgra32,
            frame.rows.data(), frame.RowBytes()};
}

bool HaveFrames(benchmark::State& state, const std::vector<Frame>& frames)
{
    if (frames.empty())
        state.SkipWithError("set TALVEROX_BENCH_FRAMES to a file from bench/make_frames");
    return !frames.empty();
}

// Figures common to both directions; codecSeconds covers the DriverProc
// calls only (codecCpuSeconds the same in CPU time), pngSeconds the PNG
// writer or reader alone on the same frames.
void Report(benchmark::State& state, double codecSeconds, double codecCpuSeconds, double pngSeconds,
            size_t rawBytes)
{
    state.counters["fps"] = static_cast<double>(state.iterations()) / codecSeconds;
    state.counters["raw_MB/s"] = static_cast<double>(rawBytes) / codecSeconds / 1e6;
    state.counters["cpu_MB/s"] = static_cast<double>(rawBytes) / codecCpuSeconds / 1e6;
    state.counters["outside_png"] = 1.0 - pngSeconds / codecSeconds;
}

void Compress(benchmark::State& state)
{
    std::vector<Frame> frames = Frames(static_cast<uint16_t>(state.range(0)));
    if (!HaveFrames(state, frames))
        return;
    CodecSession codec;
    FormatBuffer compressed{};
    Send(codec.id(), ICM_COMPRESS_GET_FORMAT, &frames[0].format, &compressed);
    std::vector<uint8_t> output(static_cast<DWORD>(Send(codec.id(), ICM_COMPRESS_GET_SIZE, &frames[0].format)));
    ICCOMPRESS compress{};
    compress.lpbiOutput = &compressed.header;
    compress.lpOutput = output.data();

    double codecSeconds = 0;
    double codecCpuSeconds = 0;
    double pngSeconds = 0;
    size_t rawBytes = 0;
    size_t packedBytes = 0;
    size_t i = 0;
    std::vector<uint8_t> png;
    for (auto _ : state) {
        Frame& frame = frames[i++ % frames.size()];
        compress.lpbiInput = &frame.format.header;
        compress.lpInput = frame.rows.data();
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        const LRESULT result = Send(codec.id(), ICM_COMPRESS, &compress);
        codecCpuSeconds += CpuSeconds() - cpuStart;
        const auto middle = std::chrono::steady_clock::now();
        png.clear();
        EncodePng(AsSource(frame), png);
        const auto end = std::chrono::steady_clock::now();
        if (result != ICERR_OK) {
            state.SkipWithError("ICM_COMPRESS failed");
            return;
        }
        codecSeconds += Seconds(middle - start);
        pngSeconds += Seconds(end - middle);
        rawBytes += frame.rows.size();
        packedBytes += compressed.header.biSizeImage;
    }
    Report(state, codecSeconds, codecCpuSeconds, pngSeconds, rawBytes);
    state.counters["ratio"] = static_cast<double>(packedBytes) / static_cast<double>(rawBytes);
}

void Decompress(benchmark::State& state)
{
    std::vector<Frame> frames = Frames(static_cast<uint16_t>(state.range(0)));
    if (!HaveFrames(state, frames))
        return;
    CodecSession codec;
    std::vector<CompressedFrame> packed;
    for (Frame& frame : frames)
        packed.push_back(CompressFrame(codec.id(), frame).frame);

    FormatBuffer outputFormat{};
    Send(codec.id(), ICM_DECOMPRESS_GET_FORMAT, &packed[0].format, &outputFormat);
    std::vector<uint8_t> output(outputFormat.header.biSizeImage);
    ICDECOMPRESS decompress{};
    decompress.lpbiOutput = &outputFormat.header;
    decompress.lpOutput = output.data();

    double codecSeconds = 0;
    double codecCpuSeconds = 0;
    double pngSeconds = 0;
    size_t rawBytes = 0;
    size_t i = 0;
    DecodedPng decoded;
    for (auto _ : state) {
        CompressedFrame& frame = packed[i++ % packed.size()];
        decompress.lpbiInput = &frame.format.header;
        decompress.lpInput = frame.bytes.data();
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        const LRESULT result = Send(codec.id(), ICM_DECOMPRESS, &decompress);
        codecCpuSeconds += CpuSeconds() - cpuStart;
        const auto middle = std::chrono::steady_clock::now();
        DecodePng(frame.bytes.data(), frame.bytes.size(), decoded);
        const auto end = std::chrono::steady_clock::now();
        if (result != ICERR_OK) {
            state.SkipWithError("ICM_DECOMPRESS failed");
            return;
        }
        codecSeconds += Seconds(middle - start);
        pngSeconds += Seconds(end - middle);
        rawBytes += output.size();
    }
    Report(state, codecSeconds, codecCpuSeconds, pngSeconds, rawBytes);
}

BENCHMARK(Compress)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Decompress)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
