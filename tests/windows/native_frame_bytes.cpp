// Compresses raw frames through the native library's DriverProc and checks
// that each comes out byte for byte as the PNG the Windows DLL wrote: one
// engine, one set of bytes, whatever the platform.
//
// Usage: native_frame_bytes BITS WIDTH HEIGHT FRAMES SOURCE.raw PNG_DIR
// SOURCE.raw holds each frame's rows in memory order without padding;
// PNG_DIR holds the DLL's frames as 001.png, 002.png, ...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "talverox.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

LRESULT Send(DWORD_PTR id, UINT message, const void* a, const void* b)
{
    return DriverProc(id, nullptr, message, reinterpret_cast<LPARAM>(a),
                      reinterpret_cast<LPARAM>(b));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: native_frame_bytes BITS WIDTH HEIGHT FRAMES SOURCE.raw PNG_DIR\n");
        return 2;
    }
    const int bits = std::atoi(argv[1]), width = std::atoi(argv[2]), height = std::atoi(argv[3]);
    const int frames = std::atoi(argv[4]);
    const std::vector<uint8_t> source = ReadFile(argv[5]);
    const size_t pixelBytes = size_t(width) * size_t(bits / 8);
    const size_t rowBytes = (pixelBytes + 3) & ~size_t{3};
    if (source.size() != pixelBytes * size_t(height) * size_t(frames)) {
        std::fprintf(stderr, "%s holds %zu bytes\n", argv[5], source.size());
        return 1;
    }

    std::vector<uint32_t> inputWords((40 + 1024) / 4, 0);
    auto* input = reinterpret_cast<BITMAPINFOHEADER*>(inputWords.data());
    *input = BITMAPINFOHEADER{40, width, height, 1, WORD(bits), BI_RGB,
                              DWORD(rowBytes * size_t(height)), 0, 0, 0, 0};
    std::vector<uint32_t> outputWords((40 + 1024) / 4, 0);
    auto* output = reinterpret_cast<BITMAPINFOHEADER*>(outputWords.data());

    Send(0, DRV_LOAD, nullptr, nullptr);
    ICOPEN open{sizeof(ICOPEN), kFourccVidc, kFourccMpng, ICVERSION, ICMODE_COMPRESS, 0,
                nullptr, nullptr, 0};
    const auto id = static_cast<DWORD_PTR>(Send(0, DRV_OPEN, nullptr, &open));
    if (id == 0 || Send(id, ICM_COMPRESS_GET_FORMAT, input, output) != ICERR_OK) {
        std::fprintf(stderr, "the codec refused the %d-bit format\n", bits);
        return 1;
    }
    const auto capacity = static_cast<size_t>(Send(id, ICM_COMPRESS_GET_SIZE, input, output));
    int failures = 0;
    for (int i = 0; i < frames; ++i) {
        std::vector<uint8_t> rows(input->biSizeImage, 0);
        for (int y = 0; y < height; ++y)
            std::memcpy(rows.data() + size_t(y) * rowBytes,
                        source.data() + (size_t(i) * size_t(height) + size_t(y)) * pixelBytes,
                        pixelBytes);
        std::vector<uint8_t> compressed(capacity);
        DWORD flags = 0;
        ICCOMPRESS request{0, output, compressed.data(), input, rows.data(), nullptr, &flags,
                           i, 0, 0, nullptr, nullptr};
        if (Send(id, ICM_COMPRESS, &request, nullptr) != ICERR_OK) {
            std::fprintf(stderr, "frame %d: the native codec refused it\n", i);
            return 1;
        }
        compressed.resize(output->biSizeImage);
        char name[32];
        std::snprintf(name, sizeof name, "/%03d.png", i + 1);
        if (ReadFile(argv[6] + std::string(name)) != compressed) {
            std::fprintf(stderr, "frame %d: the DLL's bytes differ from the native library's\n", i);
            ++failures;
        }
    }
    Send(id, DRV_CLOSE, nullptr, nullptr);
    if (failures == 0)
        std::printf("%d frames at %d bits: the same bytes from both builds\n", frames, bits);
    return failures == 0 ? 0 : 1;
}
