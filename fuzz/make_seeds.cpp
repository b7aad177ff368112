// Writes the seed corpora of the fuzz targets: frames the codec makes
// itself at every depth, PNGs of other writers (every colour type and bit
// depth, interlaced or not), the PNG fixtures of the tests, and the header
// pairs and frames a host sends in a normal session.
//
//   make_seeds CORPUS_DIR [FIXTURE_PNG_DIR]
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/png/png.h"
#include "tests/support/frames.h"
#include "tests/support/reference_png.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& dir, const std::string& name, const std::vector<uint8_t>& bytes)
{
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

template <typename T>
void Append(std::vector<uint8_t>& bytes, const T& value)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof value);
}

uint8_t DepthIndex(uint16_t depth)
{
    switch (depth) {
    case 8: return 0;
    case 16: return 1;
    case 24: return 2;
    default: return 3;
    }
}

// Decompression input: the output choice, no repair, then the frame. The
// output size comes from the frame's IHDR (choice bit 2).
std::vector<uint8_t> DecompressSeed(uint16_t depth, const std::vector<uint8_t>& png)
{
    // Sized at once: growing a 4-byte vector trips GCC 12's -Warray-bounds.
    std::vector<uint8_t> seed(4 + png.size(), 0);
    seed[0] = static_cast<uint8_t>(DepthIndex(depth) | 4);
    std::copy(png.begin(), png.end(), seed.begin() + 4);
    return seed;
}

// Compression input: small-size mode, the header, then pixel bytes.
std::vector<uint8_t> CompressSeed(uint16_t depth, int16_t width, int16_t height, uint32_t seed)
{
    std::vector<uint8_t> bytes = {DepthIndex(depth)};
    Append(bytes, width);
    Append(bytes, height);
    Append(bytes, uint16_t{0});  // biSizeImage: the exact size of the rows
    std::mt19937 random(seed);
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<uint8_t>(random() & 0x1F));
    return bytes;
}

std::vector<uint8_t> FormatSeed(const BITMAPINFOHEADER& input, const BITMAPINFOHEADER& output)
{
    std::vector<uint8_t> bytes;
    Append(bytes, input);
    Append(bytes, output);
    return bytes;
}

std::vector<uint8_t> Pixels(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(seed);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random() & 0x0F);
    return bytes;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS_DIR [FIXTURE_PNG_DIR]\n");
        return 2;
    }
    const fs::path corpus = argv[1];
    CodecSession codec;
    if (codec.id() == 0)
        return 1;

    int made = 0;
    for (uint16_t depth : {8, 16, 24, 32}) {
        Frame frame(7, 5, depth);
        frame.FillRandom(depth);
        frame.format.header.biSizeImage += 400;  // room for a tiny frame's PNG
        frame.rows.resize(frame.format.header.biSizeImage);
        const CompressResult compressed = CompressFrame(codec.id(), frame);
        if (compressed.result != ICERR_OK) {
            std::fprintf(stderr, "compressing a %u-bit frame failed\n", depth);
            return 1;
        }
        const std::string name = "own_" + std::to_string(depth);
        Write(corpus / "decompress_fuzzer", name, DecompressSeed(depth, compressed.frame.bytes));
        Write(corpus / "compress_fuzzer", name, CompressSeed(depth, 32, 16, depth));
        made += 2;

        const BITMAPINFOHEADER input = DibHeader(33, 9, depth, DibRowBytes(depth, 33) * 9u);
        FormatBuffer proposed{};
        Send(codec.id(), ICM_COMPRESS_GET_FORMAT, &input, &proposed);
        Write(corpus / "format_fuzzer", "compress_" + std::to_string(depth), FormatSeed(input, proposed.header));
        BITMAPINFOHEADER topDown = proposed.header;
        topDown.biHeight = -9;
        FormatBuffer output{};
        Send(codec.id(), ICM_DECOMPRESS_GET_FORMAT, &topDown, &output);
        Write(corpus / "format_fuzzer", "decompress_" + std::to_string(depth), FormatSeed(topDown, output.header));
        made += 2;
    }

    // Frames of two and three bands, with their band map: smooth content
    // keeps them a few kilobytes.
    for (uint16_t depth : {8, 24}) {
        const uint32_t width = 640, height = depth == 8 ? 1700 : 500;
        std::vector<uint8_t> rows;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width * depth / 8; ++x)
                rows.push_back(static_cast<uint8_t>((x / 40 + y / 30) * 9));
        std::vector<uint8_t> png;
        const PngSource source{width, height, depth == 8 ? PngPixels::Index8 : PngPixels::Bgr24,
                               rows.data(), static_cast<ptrdiff_t>(width * depth / 8)};
        if (!EncodePng(source, png)) {
            std::fprintf(stderr, "encoding a banded %u-bit frame failed\n", depth);
            return 1;
        }
        const std::string name = "banded_" + std::to_string(depth);
        Write(corpus / "decompress_fuzzer", name, DecompressSeed(depth, png));
        std::vector<uint8_t> diff = {0};
        diff.insert(diff.end(), png.begin(), png.end());
        Write(corpus / "png_fast_diff", name, diff);
        made += 2;
    }

    struct Foreign {
        const char* name;
        uint8_t colorType;
        uint8_t bitDepth;
        uint8_t interlace;
        uint16_t depth;  // the output depth whose layout fits best
        uint32_t channels;
    };
    const Foreign foreign[] = {
        {"gray1", SPNG_COLOR_TYPE_GRAYSCALE, 1, 0, 8, 1},
        {"gray2", SPNG_COLOR_TYPE_GRAYSCALE, 2, 0, 8, 1},
        {"gray4", SPNG_COLOR_TYPE_GRAYSCALE, 4, 0, 8, 1},
        {"gray8_adam7", SPNG_COLOR_TYPE_GRAYSCALE, 8, 1, 8, 1},
        {"palette1", SPNG_COLOR_TYPE_INDEXED, 1, 0, 8, 1},
        {"palette4_adam7", SPNG_COLOR_TYPE_INDEXED, 4, 1, 8, 1},
        {"palette8", SPNG_COLOR_TYPE_INDEXED, 8, 0, 8, 1},
        {"gray_alpha8", SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8, 0, 16, 2},
        {"rgb16", SPNG_COLOR_TYPE_TRUECOLOR, 16, 0, 24, 3},
        {"rgba16_adam7", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16, 1, 32, 4},
        {"rgb8_adam7", SPNG_COLOR_TYPE_TRUECOLOR, 8, 1, 24, 3},
    };
    spng_plte palette{};
    for (uint32_t i = 0; i < 16; ++i)
        palette.entries[i] = {static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i * 16), 7, 0};
    for (const Foreign& f : foreign) {
        palette.n_entries = f.bitDepth < 4 ? 1u << f.bitDepth : 16u;
        const uint32_t width = 11;
        const uint32_t height = 6;
        const size_t rowBytes = (width * f.channels * f.bitDepth + 7) / 8;
        const std::vector<uint8_t> png = WriteReferencePng(
            width, height, f.colorType, f.bitDepth, Pixels(rowBytes * height, f.bitDepth),
            f.colorType == SPNG_COLOR_TYPE_INDEXED ? &palette : nullptr, f.interlace);
        if (png.empty()) {
            std::fprintf(stderr, "libspng wrote no %s PNG\n", f.name);
            return 1;
        }
        Write(corpus / "decompress_fuzzer", std::string("foreign_") + f.name, DecompressSeed(f.depth, png));
        ++made;
    }

    // Fixtures: "name width height layout" lines; the layout gives the
    // output depth that fits the decoded pixels.
    if (argc > 2) {
        std::ifstream list(fs::path(argv[2]) / "fixtures.txt");
        std::string name, layout;
        int width = 0, height = 0;
        while (list >> name >> width >> height >> layout) {
            const uint16_t depth = layout == "Index8" ? 8 : layout == "Gray16" ? 16 : layout == "Bgr24" ? 24 : 32;
            std::ifstream stream(fs::path(argv[2]) / (name + ".png"), std::ios::binary);
            const std::vector<uint8_t> png{std::istreambuf_iterator<char>(stream), {}};
            if (png.empty() || png.size() > 8192)
                continue;
            Write(corpus / "decompress_fuzzer", "fixture_" + name, DecompressSeed(depth, png));
            ++made;
        }
    }
    std::printf("%d seeds written under %s\n", made, corpus.string().c_str());
    return 0;
}
