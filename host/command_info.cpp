// talverox info: what an AVI's video stream holds and how well it packs.
#include <algorithm>
#include <cstdio>

#include <memory>

#include "avi_reader.h"
#include "avi_software.h"
#include "commands.h"
#include "options.h"
#include "output_file.h"

namespace {

constexpr const char* kUsage =
    "Usage: talverox info FILE.avi\n"
    "\n"
    "Prints the video stream's size, depth, compression, which way its rows\n"
    "run, frame count and frame rate, the compressed size in total and per\n"
    "frame (min/mean/max), and the ratio of compressed to uncompressed bytes.\n"
    "FILE may be '-' (standard input).\n";

// Which way the stored pictures run, as far as the file tells.
std::string RowOrder(const BITMAPINFOHEADER& h, const std::string& software)
{
    if (h.biHeight < 0)
        return "top-down, as the header says";
    if (WrittenByFfmpeg(software))
        return "top row first, as " + software +
               " (FFmpeg) stores PNG frames; Video for Windows players and 'talverox decode' "
               "show them upside down: decode with --flip";
    std::string words = "bottom row first, as Video for Windows stores them; FFmpeg and image "
                        "viewers show the PNG frames upside down";
    if (!software.empty())
        words += " (written by " + software + ")";
    return words;
}

} // namespace

int RunInfo(const std::vector<std::string>& args)
{
    const Options options = ParseOptions(args, {});
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.positional.size() != 1)
        throw UsageError("info needs FILE.avi");
    const std::string& path = options.positional[0];
    std::unique_ptr<StdinCopy> stdinCopy;
    if (IsStandardStream(path))
        stdinCopy = std::make_unique<StdinCopy>();
    const std::string& readPath = stdinCopy ? stdinCopy->Path() : path;

    AviReader avi(readPath);
    const BITMAPINFOHEADER& h = *avi.Format().Header();
    const std::vector<AviFrame>& frames = avi.Frames();
    uint64_t total = 0;
    uint32_t smallest = frames.empty() ? 0 : UINT32_MAX;
    uint32_t largest = 0;
    for (const AviFrame& frame : frames) {
        total += frame.size;
        smallest = std::min(smallest, frame.size);
        largest = std::max(largest, frame.size);
    }
    const uint64_t height = static_cast<uint64_t>(h.biHeight < 0 ? -int64_t{h.biHeight} : h.biHeight);
    const uint64_t rawFrame = DibRowBytes(h.biBitCount, static_cast<uint32_t>(h.biWidth)) * height;
    const double raw = static_cast<double>(rawFrame) * static_cast<double>(frames.size());

    std::printf("file         %s\n", path.c_str());
    std::printf("size         %d x %d%s\n", h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight,
                h.biHeight < 0 ? " (top-down)" : "");
    std::printf("depth        %u bits per pixel\n", h.biBitCount);
    // Quoted by printf rather than by string concatenation, which GCC 12
    // flags with a false -Wrestrict warning.
    if (h.biCompression == BI_RGB)
        std::printf("compression  BI_RGB");
    else
        std::printf("compression  '%s'", FourccText(h.biCompression).c_str());
    std::printf(" (stream handler '%s')\n", FourccText(avi.Handler()).c_str());
    std::printf("rows         %s\n", RowOrder(h, AviSoftware(readPath)).c_str());
    if (avi.Rate() != 0 && avi.Scale() != 0)
        std::printf("frame rate   %.3f fps (%u/%u)\n",
                    static_cast<double>(avi.Rate()) / avi.Scale(), avi.Rate(), avi.Scale());
    std::printf("frames       %zu\n", frames.size());
    std::printf("compressed   %llu bytes\n", static_cast<unsigned long long>(total));
    if (!frames.empty())
        std::printf("per frame    min %u, mean %.0f, max %u bytes\n", smallest,
                    static_cast<double>(total) / static_cast<double>(frames.size()), largest);
    if (raw > 0)
        std::printf("ratio        %.4f of %llu raw bytes (%.2f:1)\n",
                    static_cast<double>(total) / raw,
                    static_cast<unsigned long long>(rawFrame * frames.size()),
                    total != 0 ? raw / static_cast<double>(total) : 0.0);
    return 0;
}
