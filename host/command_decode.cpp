// talverox decode: an MPNG AVI back to pictures, the right way up.
#include <cstdint>
#include <cstdio>
#include <memory>

#include "codec_runs.h"
#include "codec_session.h"
#include "codes.h"
#include "commands.h"
#include "options.h"
#include "png_header.h"
#include "video_output.h"

namespace {

constexpr const char* kUsage =
    "Usage: talverox decode INPUT.avi OUTPUT [--jobs N]\n"
    "\n"
    "Decompresses every frame of an MPNG AVI through the codec and writes the\n"
    "pictures, top row first, to whatever OUTPUT's name asks for:\n"
    "  out.mkv, out.nut   FFV1, lossless\n"
    "  out.y4m            YUV4MPEG (gray stays exact; colour becomes YUV 4:4:4)\n"
    "  out%04d.png        one PNG per frame\n"
    "  out.raw            the rows as they are: gray, gray16le, bgr24 or bgra\n"
    "A frame of 0 bytes repeats the previous picture.\n"
    "\n"
    "  --jobs N     codec instances working at once (default: the number of cores)\n";

// The stream's format, with its depth corrected when the frames hold
// pictures of another depth than it says (other writers count gray PNGs
// their own way). The codec would decode into rows of the wrong size.
DibFormat CheckedFormat(AviReader& avi, const std::string& path)
{
    DibFormat format = avi.Format();
    BITMAPINFOHEADER& h = *format.Header();
    if (h.biCompression != kFourccMpng)
        return format; // the codec's to refuse
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < avi.Frames().size() && bytes.empty(); ++i)
        avi.ReadFrame(i, bytes);
    PngHeader png;
    if (!ReadPngHeader(bytes.data(), bytes.size(), png))
        return format;
    const auto height = static_cast<uint32_t>(h.biHeight < 0 ? -int64_t{h.biHeight} : h.biHeight);
    if (png.width != static_cast<uint32_t>(h.biWidth) || png.height != height)
        throw MediaError(path + ": the stream is " + DescribeFormat(h) + " but its frames are " +
                         std::to_string(png.width) + "x" + std::to_string(png.height) +
                         " PNGs");
    const uint32_t depth = DibDepthOfPng(png);
    if (depth != 0 && depth != h.biBitCount) {
        std::fprintf(stderr,
                     "talverox: note: %s: the stream says %u bits per pixel but its frames are "
                     "%u-bit PNGs (colour type %u); decoding to %u-bit rows\n",
                     path.c_str(), h.biBitCount, png.bitDepth, png.colorType, depth);
        h.biBitCount = static_cast<WORD>(depth);
    }
    return format;
}

} // namespace

int RunDecode(const std::vector<std::string>& args)
{
    const Options options = ParseOptions(args, {"jobs"});
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.positional.size() != 2)
        throw UsageError("decode needs INPUT.avi and OUTPUT");
    const std::string& inputPath = options.positional[0];
    const std::string& outputPath = options.positional[1];
    const size_t jobs = JobsOption(options);

    AviReader avi(inputPath);
    if (avi.Frames().empty())
        throw AviError(inputPath + ": has no video frames");
    const DibFormat format = CheckedFormat(avi, inputPath);
    std::unique_ptr<VideoOutput> output;
    Progress progress("decode", static_cast<int64_t>(avi.Frames().size()));
    const auto ready = [&](const DibFormat& proposed) {
        const BITMAPINFOHEADER& h = *proposed.Header();
        if (h.biHeight < 0)
            throw MediaError(inputPath + ": the codec proposes top-down rows (" +
                             DescribeFormat(h) + "), which this host does not write");
        if (h.biBitCount != 8 && h.biBitCount != 16 && h.biBitCount != 24 &&
            h.biBitCount != 32)
            throw MediaError(inputPath + ": the codec proposes " + DescribeFormat(h) +
                             ", a depth this host does not write");
        // A rate the libraries cannot hold counts as unknown.
        const bool known = avi.Rate() != 0 && avi.Scale() != 0 && avi.Rate() <= INT32_MAX &&
                           avi.Scale() <= INT32_MAX;
        output = std::make_unique<VideoOutput>(
            outputPath, static_cast<uint32_t>(h.biWidth), static_cast<uint32_t>(h.biHeight),
            h.biBitCount, known ? static_cast<int>(avi.Rate()) : 25,
            known ? static_cast<int>(avi.Scale()) : 1);
    };
    RunFigures figures;
    try {
        try {
            figures = DecompressAvi(
                avi, format, jobs, ready,
                [&](const uint8_t* rows, size_t) { output->Write(rows); }, progress);
            output->Finish();
        } catch (const CodecError& error) {
            throw CodecError(inputPath + ": " + error.what());
        }
    } catch (...) {
        // Half a video would pass for a whole one; numbered images name
        // themselves and stay.
        const bool created = output != nullptr;
        output.reset();
        if (created && outputPath.find('%') == std::string::npos)
            std::remove(outputPath.c_str());
        throw;
    }

    const BITMAPINFOHEADER& h = *format.Header();
    std::printf("%s: %llu frames, %dx%d, %u bits, %s, %.1f fps (%zu jobs)\n", outputPath.c_str(),
                static_cast<unsigned long long>(figures.frames), h.biWidth, h.biHeight,
                h.biBitCount, output->Description().c_str(),
                static_cast<double>(figures.frames) / figures.seconds, jobs);
    return 0;
}
