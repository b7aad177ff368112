// Files cut short or never finished: every whole frame before the cut is
// read back, and the damage is reported.
#include <gtest/gtest.h>

#include "avi_reader.h"
#include "avi_test_files.h"
#include "avi_writer.h"

namespace {

DibFormat Format()
{
    DibFormat format = MakeRgbFormat(16, 8, 24);
    format.Header()->biCompression = 'M' | 'P' << 8 | 'N' << 16 | 'G' << 24;
    return format;
}

std::vector<uint8_t> FrameBytes(size_t index)
{
    return std::vector<uint8_t>(200 + 2 * index, static_cast<uint8_t>(index));
}

// Writes 30 frames over RIFFs of at most 3000 bytes.
void WriteLong(const std::string& path, bool finish)
{
    AviWriter writer(path, Format(), 25, 1, PcmFormat{}, 3000);
    for (size_t i = 0; i < 30; ++i) {
        const std::vector<uint8_t> frame = FrameBytes(i);
        writer.WriteFrame(frame.data(), frame.size());
    }
    if (finish)
        writer.Finish();
}

void ExpectFramesIntact(AviReader& reader)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < reader.Frames().size(); ++i) {
        reader.ReadFrame(i, bytes);
        EXPECT_EQ(bytes, FrameBytes(i)) << "frame " << i;
    }
}

TEST(AviRecovery, UnfinishedFileKeepsEveryFrame)
{
    ScratchFile file;
    WriteLong(file.Path(), false);
    AviReader reader(file.Path());
    EXPECT_EQ(reader.Frames().size(), 30u);
    EXPECT_NE(reader.Damage().find("unfinished"), std::string::npos) << reader.Damage();
    ExpectFramesIntact(reader);
}

TEST(AviRecovery, CutFileKeepsTheWholeFramesBeforeTheCut)
{
    ScratchFile whole;
    WriteLong(whole.Path(), true);
    const std::vector<uint8_t> bytes = whole.Read();
    std::vector<AviFrame> frames;
    {
        AviReader reader(whole.Path());
        ASSERT_TRUE(reader.Damage().empty());
        frames = reader.Frames();
    }
    ASSERT_EQ(frames.size(), 30u);
    // One byte short; inside the first RIFF's frames, inside a later RIFF's,
    // and at a frame's last byte.
    for (size_t cut : {bytes.size() - 1, size_t{frames[3].offset + 50},
                       size_t{frames[20].offset + 10},
                       size_t{frames[25].offset + frames[25].size - 1}}) {
        ScratchFile file;
        file.Write(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
        size_t whole_frames = 0;
        while (whole_frames < frames.size() &&
               frames[whole_frames].offset + frames[whole_frames].size <= cut)
            ++whole_frames;
        AviReader reader(file.Path());
        EXPECT_EQ(reader.Frames().size(), whole_frames) << "cut at " << cut;
        EXPECT_NE(reader.Damage().find("truncated"), std::string::npos) << reader.Damage();
        EXPECT_NE(reader.Damage().find("recovered " + std::to_string(whole_frames)),
                  std::string::npos)
            << reader.Damage();
        ExpectFramesIntact(reader);
    }
}

} // namespace
