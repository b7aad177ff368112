// talverox demo: a built-in clip through the codec and back, checked and
// timed. Needs nothing but the codec.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "codec_runs.h"
#include "commands.h"
#include "demo_clip.h"
#include "options.h"
#include "output_file.h"

namespace {

constexpr const char* kUsage =
    "Usage: talverox demo [OUTPUT.avi] [--jobs N] [--frames N] [-y|-n]\n"
    "\n"
    "Draws a moving 1280x720 test clip (gradients, text-like edges, noise and\n"
    "motion), compresses it through the codec into an MPNG AVI, decompresses\n"
    "that AVI again, checks that every frame comes back bit for bit, and\n"
    "prints the ratio and the frames per second of both directions.\n"
    "Without OUTPUT.avi the AVI goes to a temporary file that is removed.\n"
    "\n"
    "  --jobs N     codec instances working at once (default: the number of cores)\n"
    "  --frames N   length of the clip (default 90, three seconds at 30 fps)\n";

constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 720;
constexpr uint32_t kRate = 30;

uint32_t FramesOption(const Options& options)
{
    const auto found = options.values.find("frames");
    if (found == options.values.end())
        return 90;
    size_t used = 0;
    long frames = 0;
    try {
        frames = std::stol(found->second, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != found->second.size() || frames < 1 || frames > 3600)
        throw UsageError("--frames takes a number from 1 to 3600, not '" + found->second + "'");
    return static_cast<uint32_t>(frames);
}

// Removes the temporary AVI however the demo ends.
struct TemporaryFile {
    std::string path;
    ~TemporaryFile()
    {
        if (!path.empty())
            std::remove(path.c_str());
    }
};

std::string MakeTemporaryAvi()
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / "talverox-demo-XXXXXX.avi").string();
    const int fd = mkstemps(pattern.data(), 4);
    if (fd < 0)
        throw std::runtime_error(pattern + ": cannot create a temporary file: " +
                                 std::strerror(errno));
    close(fd);
    return pattern;
}

void PrintDirection(const char* name, const RunFigures& figures, double rawBytes)
{
    std::printf("  %-7s %llu frames in %.2f s: %.1f fps, %.1f MB/s of pixels\n", name,
                static_cast<unsigned long long>(figures.frames), figures.seconds,
                static_cast<double>(figures.frames) / figures.seconds,
                rawBytes / figures.seconds / 1e6);
}

} // namespace

int RunDemo(const std::vector<std::string>& args)
{
    const Options options = ParseOptions(args, {"jobs", "frames"}, {"y", "n"});
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.positional.size() > 1)
        throw UsageError("demo takes at most one OUTPUT.avi");
    const size_t jobs = JobsOption(options);
    const uint32_t count = FramesOption(options);

    TemporaryFile temporary;
    std::unique_ptr<OutputFile> kept;
    std::string path;
    if (options.positional.empty()) {
        temporary.path = MakeTemporaryAvi();
        path = temporary.path;
    } else {
        CheckOutput(options.positional[0], {}, OverwriteOption(options));
        kept = std::make_unique<OutputFile>(options.positional[0]);
        path = kept->Path();
    }

    std::printf("talverox demo: %u frames of %ux%u, 24 bits, %zu jobs\n", count, kWidth, kHeight,
                jobs);
    std::fflush(stdout);
    std::vector<std::vector<uint8_t>> clip(count);
    for (uint32_t i = 0; i < count; ++i)
        DrawDemoFrame(kWidth, kHeight, i, clip[i]);
    const DibFormat format = MakeRgbFormat(kWidth, kHeight, 24);
    const double rawBytes = static_cast<double>(format.Header()->biSizeImage) * count;

    size_t next = 0;
    Progress encodeProgress("encode", count);
    const RunFigures encoded = CompressToAvi(
        format,
        [&](std::vector<uint8_t>& rows) {
            if (next == clip.size())
                return false;
            rows = clip[next++];
            return true;
        },
        jobs, path, kRate, 1, encodeProgress);

    AviReader avi(path);
    size_t mismatches = 0;
    size_t firstMismatch = 0;
    Progress decodeProgress("decode", count);
    const RunFigures decoded = DecompressAvi(
        avi, avi.Format(), jobs,
        [&](const DibFormat& proposed) {
            if (proposed.Header()->biSizeImage != format.Header()->biSizeImage)
                throw std::runtime_error(path + ": the codec proposes " +
                                         DescribeFormat(*proposed.Header()) +
                                         " for the clip's frames");
        },
        [&](const uint8_t* rows, size_t index) {
            if (index >= clip.size() ||
                std::memcmp(rows, clip[index].data(), clip[index].size()) != 0) {
                if (mismatches++ == 0)
                    firstMismatch = index;
            }
        },
        decodeProgress);

    PrintDirection("encode", encoded, rawBytes);
    PrintDirection("decode", decoded, rawBytes);
    std::printf("  size    %.1f MB raw, %.1f MB compressed, ratio %.3f (%.2f:1)\n", rawBytes / 1e6,
                static_cast<double>(encoded.compressedBytes) / 1e6,
                static_cast<double>(encoded.compressedBytes) / rawBytes,
                rawBytes / static_cast<double>(encoded.compressedBytes));
    if (decoded.frames != count || mismatches != 0) {
        std::printf("  round trip FAILED: %zu of %u frames differ (first: frame %zu), %llu "
                    "decoded\n",
                    mismatches, count, firstMismatch,
                    static_cast<unsigned long long>(decoded.frames));
        return 1;
    }
    std::printf("  round trip bit-exact: all %u frames match\n", count);
    if (kept) {
        kept->Commit();
        std::printf("  written to %s\n", kept->Target().c_str());
    }
    return 0;
}
