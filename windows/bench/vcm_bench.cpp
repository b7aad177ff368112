// ICCompress and ICDecompress through the video compression manager on
// photographic 1080p frames, as a video application drives the installed
// codec: the Windows counterpart of bench/codec/codec_bench. Speeds come
// from the CPU time of the whole process over one pass of every frame, the
// best of several passes; wall-clock figures follow for comparison. Every
// frame is then decoded once more, untimed, and compared byte for byte.
//
// Usage: vcm_bench FRAMES.bgr [PASSES]
// FRAMES.bgr holds 1920x1080 BGR24 frames back to back (bench/make_frames).
#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr LONG kWidth = 1920;
constexpr LONG kHeight = 1080;
const DWORD kMpng = mmioFOURCC('M', 'P', 'N', 'G');

using Bytes = std::vector<uint8_t>;

// CPU seconds of this process (every thread, user and kernel) and wall seconds.
struct Clock {
    double cpu;
    double wall;
};

Clock Now()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>(uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) * 1e-7;
    };
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return {seconds(kernel) + seconds(user),
            static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart)};
}

// The fastest of the passes, by CPU time and by wall clock separately.
struct Best {
    double cpu = 1e300;
    double wall = 1e300;
    void Add(const Clock& start, const Clock& end)
    {
        cpu = std::min(cpu, end.cpu - start.cpu);
        wall = std::min(wall, end.wall - start.wall);
    }
};

BITMAPINFOHEADER DibHeader(WORD bits)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = kWidth;
    h.biHeight = kHeight;  // bottom-up: the file's rows land upside down, which costs nothing
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(kWidth * kHeight * bits / 8);  // no padding at 1920 pixels
    return h;
}

// The file's frames at `bits` per pixel; 32-bit frames get an alpha ramp,
// as in codec_bench, so alpha is not constant.
std::vector<Bytes> LoadFrames(const Bytes& bgr, WORD bits)
{
    const size_t pixels = size_t{kWidth} * kHeight;
    std::vector<Bytes> frames;
    for (size_t at = 0; at + 3 * pixels <= bgr.size(); at += 3 * pixels) {
        const uint8_t* source = bgr.data() + at;
        if (bits == 24) {
            frames.emplace_back(source, source + 3 * pixels);
            continue;
        }
        Bytes& frame = frames.emplace_back(4 * pixels);
        for (size_t p = 0; p < pixels; ++p) {
            std::memcpy(&frame[4 * p], source + 3 * p, 3);
            frame[4 * p + 3] = static_cast<uint8_t>(255 - (p % kWidth) / 8);
        }
    }
    return frames;
}

bool LoadFile(const char* path, Bytes& bytes)
{
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    uint8_t chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

double Mb(size_t bytes) { return static_cast<double>(bytes) / 1e6; }

// Runs both directions at one depth; returns false when a call fails or a
// frame does not come back exactly.
bool Run(const std::vector<Bytes>& frames, WORD bits, int passes)
{
    BITMAPINFOHEADER input = DibHeader(bits);
    const size_t count = frames.size();
    const size_t raw = count * input.biSizeImage;

    HIC compressor = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_COMPRESS);
    if (compressor == nullptr) {
        std::fprintf(stderr, "vcm_bench: ICOpen found no MPNG compressor; is the codec installed?\n");
        return false;
    }
    BITMAPINFOHEADER format{};
    if (ICCompressGetFormat(compressor, &input, &format) != ICERR_OK ||
        ICCompressBegin(compressor, &input, &format) != ICERR_OK) {
        std::fprintf(stderr, "vcm_bench: %u bits: the compressor refused the format\n", bits);
        ICClose(compressor);
        return false;
    }
    const DWORD maxSize = static_cast<DWORD>(ICCompressGetSize(compressor, &input, &format));

    // One output buffer per frame, so a pass times the codec and nothing else.
    std::vector<Bytes> packed(count, Bytes(maxSize));
    std::vector<DWORD> sizes(count);
    bool ok = true;
    Best encode;
    for (int pass = 0; pass < passes && ok; ++pass) {
        const Clock start = Now();
        for (size_t i = 0; i < count && ok; ++i) {
            BITMAPINFOHEADER out = format;
            DWORD flags = 0;
            ok = ICCompress(compressor, ICCOMPRESS_KEYFRAME, &out, packed[i].data(), &input,
                            const_cast<uint8_t*>(frames[i].data()), nullptr, &flags,
                            static_cast<LONG>(i), 0, 0, nullptr, nullptr) == ICERR_OK;
            sizes[i] = out.biSizeImage;
        }
        encode.Add(start, Now());
    }
    ICCompressEnd(compressor);
    ICClose(compressor);
    if (!ok) {
        std::fprintf(stderr, "vcm_bench: %u bits: ICCompress failed\n", bits);
        return false;
    }
    size_t packedBytes = 0;
    for (DWORD size : sizes)
        packedBytes += size;

    HIC decompressor = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_DECOMPRESS);
    BITMAPINFOHEADER output = input;
    if (decompressor == nullptr || ICDecompressBegin(decompressor, &format, &output) != ICERR_OK) {
        std::fprintf(stderr, "vcm_bench: %u bits: no decompressor for the codec's own format\n", bits);
        if (decompressor != nullptr)
            ICClose(decompressor);
        return false;
    }
    Bytes rows(output.biSizeImage);
    Best decode;
    for (int pass = 0; pass < passes && ok; ++pass) {
        const Clock start = Now();
        for (size_t i = 0; i < count && ok; ++i) {
            BITMAPINFOHEADER in = format;
            in.biSizeImage = sizes[i];
            ok = ICDecompress(decompressor, 0, &in, packed[i].data(), &output, rows.data()) == ICERR_OK;
        }
        decode.Add(start, Now());
    }
    size_t exact = 0;
    for (size_t i = 0; i < count && ok; ++i) {
        BITMAPINFOHEADER in = format;
        in.biSizeImage = sizes[i];
        std::fill(rows.begin(), rows.end(), uint8_t{0x5A});
        ok = ICDecompress(decompressor, 0, &in, packed[i].data(), &output, rows.data()) == ICERR_OK;
        exact += ok && rows == frames[i];
    }
    ICDecompressEnd(decompressor);
    ICClose(decompressor);
    if (!ok) {
        std::fprintf(stderr, "vcm_bench: %u bits: ICDecompress failed\n", bits);
        return false;
    }

    // One line per direction, key=value, for people and for bench/vcm/compare.
    std::printf("compress   bits=%u frames=%zu fps=%.1f MB/s=%.1f ratio=%.3f wall_MB/s=%.1f\n", bits,
                count, static_cast<double>(count) / encode.cpu, Mb(raw) / encode.cpu,
                static_cast<double>(packedBytes) / static_cast<double>(raw), Mb(raw) / encode.wall);
    std::printf("decompress bits=%u frames=%zu fps=%.1f MB/s=%.1f exact=%zu/%zu wall_MB/s=%.1f\n", bits,
                count, static_cast<double>(count) / decode.cpu, Mb(raw) / decode.cpu, exact, count,
                Mb(raw) / decode.wall);
    std::fflush(stdout);
    return exact == count;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: vcm_bench FRAMES.bgr [PASSES]\n");
        return 2;
    }
    const int passes = argc == 3 ? std::atoi(argv[2]) : 3;
    Bytes bgr;
    if (!LoadFile(argv[1], bgr) || bgr.size() < size_t{kWidth} * kHeight * 3 || passes < 1) {
        std::fprintf(stderr, "vcm_bench: %s holds no 1920x1080 BGR24 frame, or PASSES is not positive\n",
                     argv[1]);
        return 2;
    }
    const size_t frameBytes = size_t{kWidth} * size_t{kHeight} * 3;
    std::printf("vcm_bench: %zu frames of %ldx%ld, best of %d passes, CPU time of the process\n",
                bgr.size() / frameBytes, kWidth, kHeight, passes);
    bool ok = true;
    for (WORD bits : {WORD{24}, WORD{32}})
        ok = Run(LoadFrames(bgr, bits), bits, passes) && ok;
    return ok ? 0 : 1;
}
