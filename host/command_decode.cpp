// talverox decode: an MPNG AVI back to pictures, the right way up.
#include <cstdint>
#include <cstdio>
#include <memory>

#include "codec_runs.h"
#include "codec_session.h"
#include "talverox.h"
#include "commands.h"
#include "interrupt.h"
#include "options.h"
#include "output_file.h"
#include "png_header.h"
#include "video_output.h"

namespace {

constexpr const char* kUsage =
    "Usage: talverox decode INPUT.avi OUTPUT [--jobs N] [--flip] [--format EXT] [-y|-n]\n"
    "\n"
    "Decompresses every frame of an MPNG AVI through the codec and writes the\n"
    "pictures, top row first and with every bit kept, to whatever OUTPUT's name\n"
    "asks for:\n"
    "  out.mkv, out.nut   FFV1, lossless, every depth\n"
    "  out.y4m            YUV4MPEG: 8-bit gray only (no RGB, alpha or 16-bit gray)\n"
    "  out%04d.png        one PNG per frame\n"
    "  out.raw            the rows as they are: gray, gray16le, bgr24 or bgra\n"
    "  -                  standard output, in the container --format names\n"
    "                     (default nut); pipe:1.y4m and the like work too\n"
    "An output that cannot hold the frames' depth exactly is refused. A frame of\n"
    "0 bytes repeats the previous picture. INPUT may be '-' (standard input).\n"
    "\n"
    "  --jobs N      codec instances working at once (default: the number of cores)\n"
    "  --flip        turn the pictures over: for files whose PNGs hold the\n"
    "                picture's top row first, as FFmpeg writes them ('talverox info'\n"
    "                tells)\n"
    "  --format EXT  the container for '-': nut, mkv, y4m or raw\n"
    "  -y, -n        replace an existing output always, never (default: ask on a\n"
    "                terminal, refuse elsewhere)\n";

// Thrown from the frame sink to stop the run after a signal.
struct Stopped {};

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
    const Options options = ParseOptions(args, {"jobs", "format"}, {"y", "n", "flip"});
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.positional.size() != 2)
        throw UsageError("decode needs INPUT.avi and OUTPUT");
    const std::string& inputName = options.positional[0];
    const std::string& outputName = options.positional[1];
    const size_t jobs = JobsOption(options);
    const Overwrite policy = OverwriteOption(options);

    OutputTarget target;
    target.name = outputName;
    target.images = policy;
    target.flip = options.Has("flip");
    const auto formatOption = options.values.find("format");
    const bool streamed = IsStandardStream(outputName) || outputName.compare(0, 5, "pipe:") == 0;
    if (formatOption != options.values.end() && !IsStandardStream(outputName))
        throw UsageError("--format is for '-' only; other outputs say it with their names");
    if (IsStandardStream(outputName)) {
        target.name = "stdout." + (formatOption != options.values.end() ? formatOption->second : "nut");
        target.file = "pipe:1";
    } else if (streamed) {
        target.file = outputName;
    } else {
        CheckOutput(outputName, {inputName}, policy);
    }

    std::unique_ptr<StdinCopy> stdinCopy;
    if (IsStandardStream(inputName))
        stdinCopy = std::make_unique<StdinCopy>();
    const std::string& inputPath = stdinCopy ? stdinCopy->Path() : inputName;
    AviReader avi(inputPath);
    if (avi.Frames().empty())
        throw AviError(inputName + ": has no video frames");
    const DibFormat format = CheckedFormat(avi, inputName);

    // A one-file output goes to a temporary file renamed into place when
    // whole; numbered images are created one by one, exclusively.
    std::unique_ptr<OutputFile> file;
    std::unique_ptr<VideoOutput> output;
    Progress progress("decode", static_cast<int64_t>(avi.Frames().size()));
    const auto ready = [&](const DibFormat& proposed) {
        const BITMAPINFOHEADER& h = *proposed.Header();
        if (h.biHeight < 0)
            throw MediaError(inputName + ": the codec proposes top-down rows (" +
                             DescribeFormat(h) + "), which this host does not write");
        if (h.biBitCount != 8 && h.biBitCount != 16 && h.biBitCount != 24 &&
            h.biBitCount != 32)
            throw MediaError(inputName + ": the codec proposes " + DescribeFormat(h) +
                             ", a depth this host does not write");
        // A rate the libraries cannot hold counts as unknown.
        const bool known = avi.Rate() != 0 && avi.Scale() != 0 && avi.Rate() <= INT32_MAX &&
                           avi.Scale() <= INT32_MAX;
        if (!streamed && VideoOutput::WritesOneFile(outputName)) {
            file = std::make_unique<OutputFile>(outputName);
            target.file = "file:" + file->Path();
        }
        output = std::make_unique<VideoOutput>(
            target, static_cast<uint32_t>(h.biWidth), static_cast<uint32_t>(h.biHeight),
            h.biBitCount, known ? static_cast<int>(avi.Rate()) : 25,
            known ? static_cast<int>(avi.Scale()) : 1);
    };
    CatchInterrupts();
    uint64_t written = 0;
    RunFigures figures;
    try {
        figures = DecompressAvi(
            avi, format, jobs, ready,
            [&](const uint8_t* rows, size_t) {
                if (InterruptSignal() != 0)
                    throw Stopped{};
                output->Write(rows);
                ++written;
            },
            progress);
    } catch (const CodecError& error) {
        throw CodecError(inputName + ": " + error.what());
    } catch (const Stopped&) {
        if (written == 0) {
            std::fprintf(stderr, "talverox: stopped by signal before the first picture; "
                                 "nothing written\n");
            return InterruptExitCode(InterruptSignal());
        }
        // Otherwise finished below like any run, with the pictures written so far.
    }
    output->Finish();
    if (file)
        file->Commit();

    const BITMAPINFOHEADER& h = *format.Header();
    if (InterruptSignal() != 0) {
        std::fprintf(stderr,
                     "talverox: stopped by signal after %llu frames; %s holds %llu whole "
                     "pictures\n",
                     static_cast<unsigned long long>(written), outputName.c_str(),
                     static_cast<unsigned long long>(written));
        return InterruptExitCode(InterruptSignal());
    }
    // Standard error: standard output may be the video itself.
    std::fprintf(stderr, "%s: %llu frames, %dx%d, %u bits, %s, %.1f fps (%zu jobs)\n",
                 streamed ? "standard output" : outputName.c_str(),
                 static_cast<unsigned long long>(figures.frames), h.biWidth,
                 h.biHeight, h.biBitCount, output->Description().c_str(),
                 static_cast<double>(figures.frames) / figures.seconds, jobs);
    return 0;
}
