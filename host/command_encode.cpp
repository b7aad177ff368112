// talverox encode: any video or image sequence into an MPNG AVI.
#include <cstdio>

#include "codec_runs.h"
#include "codec_session.h"
#include "commands.h"
#include "options.h"
#include "video_input.h"

namespace {

constexpr const char* kUsage =
    "Usage: talverox encode INPUT OUTPUT.avi [--depth 8|16|24|32] [--jobs N]\n"
    "\n"
    "Reads every picture of INPUT (any video or image sequence FFmpeg reads,\n"
    "e.g. clip.mkv or frame%04d.png), converts it to bottom-up DIB rows and\n"
    "compresses it through the codec into OUTPUT.avi, one PNG per frame.\n"
    "\n"
    "  --depth 24   BGR, 8 bits a channel (default)\n"
    "  --depth 32   BGRA, keeping the input's alpha\n"
    "  --depth 8    8-bit gray\n"
    "  --depth 16   16-bit gray\n"
    "  --jobs N     codec instances working at once (default: the number of cores)\n";

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
    const Options options = ParseOptions(args, {"depth", "jobs"});
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

    VideoInput input(inputPath);
    const DibFormat format = MakeRgbFormat(input.Width(), input.Height(), depth);
    Progress progress("encode", input.FrameCountHint());
    RunFigures figures;
    try {
        figures = CompressToAvi(
            format, [&](std::vector<uint8_t>& rows) { return input.Next(depth, rows); }, jobs,
            outputPath, static_cast<uint32_t>(input.FrameRateNum()),
            static_cast<uint32_t>(input.FrameRateDen()), progress);
        if (figures.frames == 0)
            throw MediaError(inputPath + ": has no pictures");
    } catch (const CodecError& error) {
        std::remove(outputPath.c_str());
        throw CodecError(inputPath + ": " + error.what());
    } catch (...) {
        // Half a file would only mislead whoever opens it next.
        std::remove(outputPath.c_str());
        throw;
    }

    const double raw = static_cast<double>(format.Header()->biSizeImage) *
                       static_cast<double>(figures.frames);
    std::printf("%s: %llu frames, %ux%u, %u bits, %llu bytes of frames, ratio %.3f, %.1f fps "
                "(%zu jobs)\n",
                outputPath.c_str(), static_cast<unsigned long long>(figures.frames),
                input.Width(), input.Height(), depth,
                static_cast<unsigned long long>(figures.compressedBytes),
                static_cast<double>(figures.compressedBytes) / raw,
                static_cast<double>(figures.frames) / figures.seconds, jobs);
    return 0;
}
