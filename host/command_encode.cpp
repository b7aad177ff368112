// talverox encode: any video or image sequence into an MPNG AVI.
#include <cstdio>

#include "codec_runs.h"
#include "codec_session.h"
#include "commands.h"
#include "interrupt.h"
#include "options.h"
#include "output_file.h"
#include "video_input.h"
#include "video_output.h"

namespace {

constexpr const char* kUsage =
    "Usage: talverox encode INPUT OUTPUT.avi [--depth 8|16|24|32] [--jobs N] [-y|-n]\n"
    "\n"
    "Reads every picture of INPUT (any video or image sequence FFmpeg reads,\n"
    "e.g. clip.mkv or frame%04d.png), converts it to bottom-up DIB rows and\n"
    "compresses it through the codec into OUTPUT.avi, one PNG per frame.\n"
    "OUTPUT is always an AVI: a name ending in another container's extension\n"
    "(.mkv, .mp4) is refused. '-' reads standard input or writes standard output.\n"
    "Ctrl-C stops reading and completes the file with the frames done.\n"
    "\n"
    "  --depth 24   BGR, 8 bits a channel (default)\n"
    "  --depth 32   BGRA, keeping the input's alpha\n"
    "  --depth 8    8-bit gray\n"
    "  --depth 16   16-bit gray\n"
    "  --jobs N     codec instances working at once (default: the number of cores)\n"
    "  -y, -n       replace an existing output always, never (default: ask on a\n"
    "               terminal, refuse elsewhere)\n";

uint32_t DepthOption(const Options& options)
{
    const auto found = options.values.find("depth");
    if (found == options.values.end())
        return 24;
    const std::string& text = found->second;
    if (text == "8" || text == "16" || text == "24" || text == "32")
        return static_cast<uint32_t>(std::stoul(text));
    throw UsageError("--depth takes 8, 16, 24 or 32, not '" + text + "'");
}

} // namespace

int RunEncode(const std::vector<std::string>& args)
{
    const Options options = ParseOptions(args, {"depth", "jobs"}, {"y", "n"});
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.positional.size() != 2)
        throw UsageError("encode needs INPUT and OUTPUT.avi");
    const std::string& inputPath = options.positional[0];
    const std::string& outputPath = options.positional[1];
    const uint32_t depth = DepthOption(options);
    const size_t jobs = JobsOption(options);
    const std::string container = ContainerOfName(outputPath);
    if (!container.empty() && container != "avi")
        throw UsageError(outputPath + ": names a " + container +
                         " file, but encode writes AVI only; name the output .avi");
    CheckOutput(outputPath, {inputPath}, OverwriteOption(options));

    // libavformat reads standard input as "pipe:0", not "-".
    VideoInput input(IsStandardStream(inputPath) ? "pipe:0" : inputPath);
    // From here a signal ends the run through its normal finish, so the
    // temporary file never outlives it.
    CatchInterrupts();
    OutputFile output(outputPath);
    const DibFormat format = MakeRgbFormat(input.Width(), input.Height(), depth);
    Progress progress("encode", input.FrameCountHint());
    RunFigures figures;
    try {
        figures = CompressToAvi(
            format,
            [&](std::vector<uint8_t>& rows) {
                return InterruptSignal() == 0 && input.Next(depth, rows);
            },
            jobs, output.Path(), static_cast<uint32_t>(input.FrameRateNum()),
            static_cast<uint32_t>(input.FrameRateDen()), progress);
        if (figures.frames == 0 && InterruptSignal() != 0) {
            std::fprintf(stderr, "talverox: stopped by signal before the first frame; "
                                 "nothing written\n");
            return InterruptExitCode(InterruptSignal());
        }
        if (figures.frames == 0)
            throw MediaError(inputPath + ": has no pictures");
    } catch (const CodecError& error) {
        throw CodecError(inputPath + ": " + error.what());
    }
    output.Commit();
    if (InterruptSignal() != 0) {
        std::fprintf(stderr,
                     "talverox: stopped by signal after %llu frames; %s holds %llu whole "
                     "frames\n",
                     static_cast<unsigned long long>(figures.frames), outputPath.c_str(),
                     static_cast<unsigned long long>(figures.frames));
        return InterruptExitCode(InterruptSignal());
    }

    const double raw = static_cast<double>(format.Header()->biSizeImage) *
                       static_cast<double>(figures.frames);
    // Standard error: standard output may be the file itself.
    std::fprintf(stderr, "%s: %llu frames, %ux%u, %u bits, %llu bytes of frames, ratio %.3f, %.1f fps "
                "(%zu jobs)\n",
                outputPath.c_str(), static_cast<unsigned long long>(figures.frames),
                input.Width(), input.Height(), depth,
                static_cast<unsigned long long>(figures.compressedBytes),
                static_cast<double>(figures.compressedBytes) / raw,
                static_cast<double>(figures.frames) / figures.seconds, jobs);
    return 0;
}
