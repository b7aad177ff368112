// Files longer than one RIFF: the writer continues in OpenDML 'AVIX' RIFFs
// (the switch point lowered so the test stays small), and our reader and
// FFmpeg's both find every frame, with the audio beside them.
#include <cstdio>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "avi_reader.h"
#include "avi_test_files.h"
#include "codec_runs.h"
#include "codec_session.h"

namespace {

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at)
{
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

// The sizes of the packets ffprobe finds in stream `stream` of `path`;
// false without ffprobe.
bool FfprobePackets(const std::string& path, const char* stream, std::vector<long>& sizes)
{
    const std::string command = std::string("ffprobe -v error -select_streams ") + stream +
                                " -show_entries packet=size -of csv=p=0 '" + path +
                                "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    long size = 0;
    while (std::fscanf(pipe, "%ld", &size) == 1)
        sizes.push_back(size);
    return pclose(pipe) == 0;
}

struct LongCase {
    uint32_t channels; // 0: no audio
    uint64_t riffLimit;
};

class OpenDml : public ::testing::TestWithParam<LongCase> {};

TEST_P(OpenDml, EveryFrameOfEveryRiffReadsBack)
{
    const LongCase c = GetParam();
    constexpr size_t kFrames = 40;
    constexpr uint32_t kSampleRate = 8000;
    const DibFormat input = MakeRgbFormat(48, 32, 24);
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> pictures(kFrames);
    for (auto& rows : pictures) {
        rows.resize(input.Header()->biSizeImage);
        for (uint8_t& b : rows)
            b = static_cast<uint8_t>(random() >> 3 & 0x3F);
    }
    // 1/25 s of audio with each frame, then half a second more at the end.
    const size_t audioPerFrame = kSampleRate / 25 * c.channels * 2;
    const size_t audioLast = kSampleRate / 2 * c.channels * 2;
    size_t next = 0;
    const WorkerSource source{
        [&](PipelineItem& item) {
            if (next == kFrames)
                return false;
            item.input = pictures[next++];
            item.extra.assign(audioPerFrame, static_cast<uint8_t>(next));
            return true;
        },
        nullptr,
        [&](std::vector<uint8_t>& audio) { audio.assign(audioLast, 1); }};

    ScratchFile file;
    Progress quiet("test", 0);
    const RunFigures figures = CompressStreamToAvi(input, source, 2, file.Path(), 25, 1,
                                                   PcmFormat{c.channels, kSampleRate}, quiet,
                                                   c.riffLimit);
    ASSERT_EQ(figures.frames, kFrames);

    // A chain of RIFFs, each within the limit, the first 'AVI ', then 'AVIX'.
    const std::vector<uint8_t> bytes = file.Read();
    size_t riffs = 0;
    for (size_t at = 0; at + 12 <= bytes.size(); at += 8 + Le32(bytes, at + 4), ++riffs) {
        ASSERT_EQ(std::memcmp(&bytes[at], "RIFF", 4), 0) << "at " << at;
        EXPECT_EQ(std::memcmp(&bytes[at + 8], riffs == 0 ? "AVI " : "AVIX", 4), 0);
        EXPECT_LE(Le32(bytes, at + 4) + 8u, c.riffLimit);
    }
    EXPECT_GE(riffs, 3u);
    // avih counts what AVI 1.0 readers see, 'dmlh' every frame.
    EXPECT_LT(Le32(bytes, 48), kFrames);
    const auto dmlh = static_cast<size_t>(
        std::search(bytes.begin(), bytes.end(), "dmlh", "dmlh" + 4) - bytes.begin());
    ASSERT_LT(dmlh + 12, bytes.size());
    EXPECT_EQ(Le32(bytes, dmlh + 8), kFrames);

    AviReader reader(file.Path());
    ASSERT_EQ(reader.Frames().size(), kFrames);
    {
        CodecDriver driver;
        Decompressor decompressor(reader.Format());
        std::vector<uint8_t> frame;
        std::vector<uint8_t> rows(decompressor.FrameBytes());
        for (size_t i = 0; i < kFrames; ++i) {
            reader.ReadFrame(i, frame);
            decompressor.Decompress(frame.data(), frame.size(), static_cast<int32_t>(i),
                                    rows.data());
            EXPECT_EQ(rows, pictures[i]) << "frame " << i;
        }
    }

    // FFmpeg follows the OpenDML indexes to every chunk.
    std::vector<long> video;
    if (!FfprobePackets(file.Path(), "v:0", video))
        GTEST_SKIP() << "no ffprobe to count the frames";
    ASSERT_EQ(video.size(), kFrames);
    for (size_t i = 0; i < kFrames; ++i)
        EXPECT_EQ(static_cast<size_t>(video[i]), reader.Frames()[i].size) << "frame " << i;
    if (c.channels != 0) {
        std::vector<long> audio;
        ASSERT_TRUE(FfprobePackets(file.Path(), "a:0", audio));
        long total = 0;
        for (long size : audio)
            total += size;
        EXPECT_EQ(static_cast<size_t>(total), audioPerFrame * kFrames + audioLast);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, OpenDml,
                         ::testing::Values(LongCase{0, 30000}, LongCase{2, 30000},
                                           LongCase{1, 50000}));

} // namespace
