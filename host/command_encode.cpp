// talverox encode: any video or image sequence into an MPNG AVI.
#include <cstdio>
#include <memory>

#include "codec_runs.h"
#include "codec_session.h"
#include "commands.h"
#include "interrupt.h"
#include "options.h"
#include "output_file.h"
#include "picture_convert.h"
#include "source_format.h"
#include "video_input.h"
#include "video_output.h"

namespace {

constexpr const char* kUsage =
    "Usage: talverox encode INPUT OUTPUT.avi [--depth 8|16|24|32] [--jobs N] [--no-audio]\n"
    "                       [-y|-n]\n"
    "\n"
    "Reads every picture of INPUT (any video or image sequence FFmpeg reads,\n"
    "e.g. clip.mkv or frame%04d.png), converts it to bottom-up DIB rows and\n"
    "compresses it through the codec into OUTPUT.avi, one PNG per frame, at\n"
    "the input's frame rate (pictures of variable timing are repeated or\n"
    "dropped to keep it). The input's audio is kept as 16-bit PCM.\n"
    "OUTPUT is always an AVI: a name ending in another container's extension\n"
    "(.mkv, .mp4) is refused. '-' reads standard input or writes standard output.\n"
    "Ctrl-C stops reading and completes the file with the frames done.\n"
    "\n"
    "  --depth 24   BGR, 8 bits a channel\n"
    "  --depth 32   BGRA, keeping the input's alpha\n"
    "  --depth 8    8-bit gray\n"
    "  --depth 16   16-bit gray\n"
    "               (default: the depth that keeps every sample of the input:\n"
    "               8 or 16 for gray, 32 with alpha, 24 otherwise)\n"
    "  --jobs N     codec instances working at once (default: the number of cores)\n"
    "  --no-audio   leave the audio out\n"
    "  -y, -n       replace an existing output always, never (default: ask on a\n"
    "               terminal, refuse elsewhere)\n";

uint32_t DepthOption(const Options& options, uint32_t lossless)
{
    const auto found = options.values.find("depth");
    if (found == options.values.end())
        return lossless;
    const std::string& text = found->second;
    if (text == "8" || text == "16" || text == "24" || text == "32")
        return static_cast<uint32_t>(std::stoul(text));
    throw UsageError("--depth takes 8, 16, 24 or 32, not '" + text + "'");
}

void Note(const std::string& path, const std::string& what)
{
    std::fprintf(stderr, "talverox: note: %s: %s\n", path.c_str(), what.c_str());
}

} // namespace

int RunEncode(const std::vector<std::string>& args)
{
    const Options options = ParseOptions(args, {"depth", "jobs"}, {"no-audio", "y", "n"});
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.positional.size() != 2)
        throw UsageError("encode needs INPUT and OUTPUT.avi");
    const std::string& inputPath = options.positional[0];
    const std::string& outputPath = options.positional[1];
    // Refuse a bad --depth before opening anything.
    DepthOption(options, 24);
    const size_t jobs = JobsOption(options);
    const std::string container = ContainerOfName(outputPath);
    if (!container.empty() && container != "avi")
        throw UsageError(outputPath + ": names a " + container +
                         " file, but encode writes AVI only; name the output .avi");
    CheckOutput(outputPath, {inputPath}, OverwriteOption(options));

    // libavformat reads standard input as "pipe:0", not "-".
    VideoInput input(IsStandardStream(inputPath) ? "pipe:0" : inputPath,
                     !options.Has("no-audio"));
    const uint32_t depth = DepthOption(options, LosslessDepth(input.PixelFormat()));
    const std::string loss =
        LossNote(input.PixelFormat(), input.Colorspace(), input.ColorRange(), depth);
    if (!loss.empty())
        Note(inputPath, loss);

    const DibFormat format = MakeRgbFormat(input.Width(), input.Height(), depth);
    std::vector<std::unique_ptr<PictureConverter>> converters;
    for (size_t i = 0; i < jobs; ++i)
        converters.push_back(
            std::make_unique<PictureConverter>(input.Width(), input.Height(), depth));
    const WorkerSource source{
        [&](PipelineItem& item) {
            if (InterruptSignal() != 0)
                return false;
            std::shared_ptr<const AVFrame> picture = input.NextPicture();
            if (picture == nullptr)
                return false;
            item.source = std::move(picture);
            input.TakeAudio(item.extra);
            return true;
        },
        [&](size_t worker, PipelineItem& item) {
            const auto* picture = static_cast<const AVFrame*>(item.source.get());
            try {
                converters[worker]->Convert(*picture, item.input);
            } catch (const std::runtime_error& error) {
                throw MediaError(inputPath + ": " + error.what());
            }
        },
        [&](std::vector<uint8_t>& audio) { input.TakeAudio(audio); }};

    // From here a signal ends the run through its normal finish, so the
    // temporary file never outlives it.
    CatchInterrupts();
    OutputFile output(outputPath);
    Progress progress("encode", input.FrameCountHint());
    RunFigures figures;
    try {
        figures = CompressStreamToAvi(format, source, jobs, output.Path(),
                                      static_cast<uint32_t>(input.FrameRateNum()),
                                      static_cast<uint32_t>(input.FrameRateDen()), input.Audio(),
                                      progress);
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
    if (input.Repeated() != 0 || input.Dropped() != 0)
        Note(inputPath, "variable frame timing made constant at " +
                            std::to_string(input.FrameRateNum()) + "/" +
                            std::to_string(input.FrameRateDen()) + " fps: " +
                            std::to_string(input.Repeated()) + " pictures repeated, " +
                            std::to_string(input.Dropped()) + " dropped");

    const double raw = static_cast<double>(format.Header()->biSizeImage) *
                       static_cast<double>(figures.frames);
    // Standard error: standard output may be the file itself.
    std::fprintf(stderr, "%s: %llu frames, %ux%u, %u bits, %llu bytes of frames, ratio %.3f, "
                 "%.1f fps (%zu jobs)%s\n",
                outputPath.c_str(), static_cast<unsigned long long>(figures.frames),
                input.Width(), input.Height(), depth,
                static_cast<unsigned long long>(figures.compressedBytes),
                static_cast<double>(figures.compressedBytes) / raw,
                static_cast<double>(figures.frames) / figures.seconds, jobs,
                input.Audio().channels != 0 ? ", with audio" : "");
    return 0;
}
