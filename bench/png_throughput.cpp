// Times EncodePng and DecodePng for bench/png_vs_ffmpeg, one thread.
//
//   png_throughput [--libdeflate] encode FRAMES.bgr WIDTH HEIGHT OUTDIR REPEATS
//       encodes every BGR24 frame REPEATS times, keeps the last PNG of each
//       as OUTDIR/fNNN.png
//   png_throughput [--libdeflate] decode REPEATS FILE.png...
//       decodes every file REPEATS times
//
// EncodePng and DecodePng are timed as dispatched; with --libdeflate, the
// libdeflate writer (WritePng) and its reader (ReadPng) instead.
//
// Prints key=value lines: seconds (wall time per pass, averaged),
// cpu_seconds (CPU time of the fastest pass: the machine may be shared, so
// that is the steadier figure), raw_bytes (pixels per pass), png_bytes.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/native/png/png_codec.h"
#include "platform/native/png/png_reader.h"
#include "platform/native/png/png_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

bool useLibdeflate = false;

bool Encode(const PngSource& source, std::vector<uint8_t>& out)
{
    return useLibdeflate ? WritePng(source, kPngWriterDefaults, out) : EncodePng(source, out);
}

bool Decode(const uint8_t* data, size_t size, DecodedPng& out)
{
    return useLibdeflate ? ReadPng(data, size, out) : DecodePng(data, size, out);
}

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

std::vector<uint8_t> ReadFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int EncodeFrames(const char* framesPath, uint32_t width, uint32_t height, const std::string& outDir,
           int repeats)
{
    const std::vector<uint8_t> frames = ReadFile(framesPath);
    const size_t frameBytes = size_t{width} * height * 3;
    const size_t count = frames.size() / frameBytes;
    if (count == 0) {
        std::fprintf(stderr, "no frames in %s\n", framesPath);
        return 1;
    }
    std::vector<std::vector<uint8_t>> pngs(count);
    const auto start = Clock::now();
    double cpuBest = 1e300;
    for (int rep = 0; rep < repeats; ++rep) {
        const double cpuStart = CpuSeconds();
        for (size_t i = 0; i < count; ++i) {
            pngs[i].clear();
            PngSource source{width, height, PngPixels::Bgr24, frames.data() + i * frameBytes,
                             ptrdiff_t(width) * 3};
            if (!Encode(source, pngs[i]))
                return 1;
        }
        cpuBest = std::min(cpuBest, CpuSeconds() - cpuStart);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    size_t pngBytes = 0;
    for (size_t i = 0; i < count; ++i) {
        pngBytes += pngs[i].size();
        char name[32];
        std::snprintf(name, sizeof name, "/f%03zu.png", i);
        std::ofstream(outDir + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(pngs[i].data()), std::streamsize(pngs[i].size()));
    }
    std::printf("frames=%zu\nseconds=%.6f\ncpu_seconds=%.6f\nraw_bytes=%zu\npng_bytes=%zu\n",
                count, seconds / repeats, cpuBest, count * frameBytes, pngBytes);
    return 0;
}

int DecodeFiles(int repeats, int fileCount, char** files)
{
    std::vector<std::vector<uint8_t>> pngs;
    size_t pngBytes = 0;
    for (int i = 0; i < fileCount; ++i) {
        pngs.push_back(ReadFile(files[i]));
        pngBytes += pngs.back().size();
    }
    size_t rawBytes = 0;
    const auto start = Clock::now();
    double cpuBest = 1e300;
    for (int rep = 0; rep < repeats; ++rep) {
        const double cpuStart = CpuSeconds();
        rawBytes = 0;
        for (const auto& png : pngs) {
            DecodedPng decoded;
            if (!Decode(png.data(), png.size(), decoded))
                return 1;
            rawBytes += size_t{decoded.width} * decoded.height * PngBytesPerPixel(decoded.pixels);
        }
        cpuBest = std::min(cpuBest, CpuSeconds() - cpuStart);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("frames=%d\nseconds=%.6f\ncpu_seconds=%.6f\nraw_bytes=%zu\npng_bytes=%zu\n",
                fileCount, seconds / repeats, cpuBest, rawBytes, pngBytes);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--libdeflate") {
        useLibdeflate = true;
        --argc;
        ++argv;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "encode" && argc == 7)
        return EncodeFrames(argv[2], uint32_t(std::atoi(argv[3])), uint32_t(std::atoi(argv[4])), argv[5],
                      std::atoi(argv[6]));
    if (mode == "decode" && argc >= 4)
        return DecodeFiles(std::atoi(argv[2]), argc - 3, argv + 3);
    std::fprintf(stderr,
                 "usage: png_throughput [--libdeflate] encode FRAMES.bgr WIDTH HEIGHT OUTDIR REPEATS\n"
                 "       png_throughput [--libdeflate] decode REPEATS FILE.png...\n");
    return 2;
}
