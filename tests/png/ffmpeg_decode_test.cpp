// A second, zlib-based decoder: ffmpeg must read every frame the writer
// makes to the same pixels, banded frames (with their map chunk) too.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_frames.h"

namespace {

constexpr const char* kFfmpeg = "/usr/bin/ffmpeg";

const char* FfmpegPixelFormat(PngPixels pixels)
{
    switch (pixels) {
    case PngPixels::Index8: return "gray";
    case PngPixels::Gray16: return "gray16le";
    case PngPixels::Bgr24: return "bgr24";
    case PngPixels::Bgra32: return "bgra";
    }
    return "";
}

// Raw rows as ffmpeg decodes the PNG file, or empty on failure.
std::vector<uint8_t> DecodeWithFfmpeg(const std::vector<uint8_t>& png, PngPixels pixels)
{
    char name[] = "/tmp/talverox-png-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        return {};
    close(fd);
    const std::string path = std::string(name) + ".png";
    std::filesystem::rename(name, path);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png.data()),
                                                static_cast<std::streamsize>(png.size()));
    const std::string command = std::string(kFfmpeg) + " -v error -i " + path +
                                " -f rawvideo -pix_fmt " + FfmpegPixelFormat(pixels) + " -";
    std::vector<uint8_t> raw;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        uint8_t buffer[65536];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            raw.insert(raw.end(), buffer, buffer + got);
        if (pclose(pipe) != 0)
            raw.clear();
    }
    std::filesystem::remove(path);
    return raw;
}

TEST(FfmpegDecode, ReadsEveryLayoutAndContent)
{
    if (!std::filesystem::exists(kFfmpeg))
        GTEST_SKIP() << "ffmpeg not installed";
    // One band, and three to nine bands with a partial last one.
    for (PngPixels pixels : {PngPixels::Index8, PngPixels::Gray16, PngPixels::Bgr24, PngPixels::Bgra32}) {
        for (Content content : {Content::Random, Content::Photo, Content::Text, Content::Sparse}) {
            for (uint32_t height : {19u, 2100u}) {
                SCOPED_TRACE(testing::Message() << PixelsName(pixels) << " " << ContentName(content) << " " << height);
                const Frame frame = MakeFrame(257, height, pixels, content, 4);
                std::vector<uint8_t> png;
                ASSERT_TRUE(EncodePng(frame.Source(), png));
                const std::vector<uint8_t> raw = DecodeWithFfmpeg(png, pixels);
                ASSERT_EQ(raw.size(), frame.RowBytes() * frame.height);
                for (uint32_t y = 0; y < frame.height; ++y) {
                    ASSERT_EQ(std::memcmp(raw.data() + y * frame.RowBytes(), frame.Row(y), frame.RowBytes()), 0)
                        << "row " << y;
                }
            }
        }
    }
}

} // namespace
