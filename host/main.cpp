// talverox: drives the MPNG codec the way a video compression manager
// does, to encode, decode, inspect and demonstrate it.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "options.h"

namespace {

constexpr const char* kUsage =
    "Usage: talverox COMMAND [ARGS] [--help]\n"
    "       talverox --version\n"
    "\n"
    "Commands:\n"
    "  encode INPUT OUTPUT.avi [--depth 8|16|24|32] [--jobs N] [-y|-n]\n"
    "                    compress any video or image sequence into an MPNG AVI\n"
    "  decode INPUT.avi OUTPUT [--jobs N] [--flip] [-y|-n]\n"
    "                    decompress an MPNG AVI to .mkv, .nut, .y4m, %04d.png or .raw\n"
    "  info FILE.avi     stream size, depth, row order, frames and compressed sizes\n"
    "  demo [OUTPUT.avi] compress and decompress a built-in clip, check and time it\n"
    "\n"
    "'-' stands for standard input or output. An existing output is replaced\n"
    "only with -y (on a terminal talverox asks); -n never replaces. Outputs are\n"
    "written under a temporary name and renamed when complete, so a failed or\n"
    "interrupted run leaves no half file and never touches its inputs.\n"
    "\n"
    "Every frame goes through the codec's DriverProc, as in Video for Windows.\n";

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
};

constexpr Command kCommands[] = {
    {"encode", RunEncode},
    {"decode", RunDecode},
    {"info", RunInfo},
    {"demo", RunDemo},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("talverox %s\n", TALVEROX_VERSION);
        return 0;
    }
    for (const Command& command : kCommands) {
        if (name != command.name)
            continue;
        try {
            return command.run(std::vector<std::string>(argv + 2, argv + argc));
        } catch (const UsageError& error) {
            std::fprintf(stderr, "talverox %s: %s\nRun 'talverox %s --help' for usage.\n",
                         command.name, error.what(), command.name);
            return 2;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "talverox: %s\n", error.what());
            return 1;
        }
    }
    std::fprintf(stderr, "talverox: unknown command '%s'\n\n%s", name.c_str(), kUsage);
    return 2;
}
