// The depth chosen for a source, what a smaller one loses, and how
// variable timing lands on a constant rate.
#include <gtest/gtest.h>

#include "constant_rate.h"
#include "source_format.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

TEST(SourceFormat, DefaultDepthKeepsEverySample)
{
    const struct {
        AVPixelFormat format;
        uint32_t depth;
    } cases[] = {
        {AV_PIX_FMT_GRAY8, 8},      {AV_PIX_FMT_GRAY10LE, 16}, {AV_PIX_FMT_GRAY16BE, 16},
        {AV_PIX_FMT_YA8, 32},       {AV_PIX_FMT_RGBA, 32},     {AV_PIX_FMT_YUVA420P, 32},
        {AV_PIX_FMT_RGB24, 24},     {AV_PIX_FMT_RGB48LE, 24},  {AV_PIX_FMT_YUV420P, 24},
        {AV_PIX_FMT_MONOBLACK, 8},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LosslessDepth(c.format), c.depth) << av_get_pix_fmt_name(c.format);
        // RGB and gray at their own depth lose nothing.
        if (c.format != AV_PIX_FMT_YUV420P && c.format != AV_PIX_FMT_YUVA420P &&
            c.format != AV_PIX_FMT_RGB48LE) {
            EXPECT_EQ(LossNote(c.format, AVCOL_SPC_RGB, AVCOL_RANGE_JPEG, c.depth), "")
                << av_get_pix_fmt_name(c.format);
        }
    }
}

TEST(SourceFormat, LossNoteNamesWhatIsLostAndHowToKeepIt)
{
    const struct {
        AVPixelFormat format;
        uint32_t depth;
        const char* words[2];
    } cases[] = {
        {AV_PIX_FMT_RGBA, 24, {"alpha", "--depth 32"}},
        {AV_PIX_FMT_GRAY16LE, 8, {"16 bits per sample become 8", "--depth 16"}},
        {AV_PIX_FMT_RGB24, 8, {"colours become gray", "--depth 24"}},
        {AV_PIX_FMT_YUV420P10LE, 24, {"10 bits per sample become 8", "BT.709, limited"}},
    };
    for (const auto& c : cases) {
        const std::string note = LossNote(c.format, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, c.depth);
        for (const char* word : c.words)
            EXPECT_NE(note.find(word), std::string::npos) << note;
        EXPECT_EQ(note.find('\n'), std::string::npos);
    }
}

// Frames given per picture for pictures at `times`, each lasting one period.
std::vector<int64_t> Frames(const std::vector<double>& times, ConstantRate& rate)
{
    std::vector<int64_t> frames;
    for (double time : times) {
        const ConstantRate::Slots s = rate.Place(time, 1);
        if (!frames.empty())
            frames.back() += s.previous;
        frames.push_back(s.current);
    }
    return frames;
}

TEST(ConstantRate, GapsRepeatAndCrowdsDrop)
{
    const struct {
        std::vector<double> times;
        std::vector<int64_t> frames;
        uint64_t repeated;
        uint64_t dropped;
    } cases[] = {
        {{0, 1, 2, 3}, {1, 1, 1, 1}, 0, 0},
        // Jitter of under half a frame changes nothing.
        {{0, 1.3, 1.8, 3.2}, {1, 1, 1, 1}, 0, 0},
        // A gap of two frames: the later picture fills it.
        {{0, 1, 3, 4}, {1, 1, 2, 1}, 1, 0},
        // A long gap: the picture before is held, and the next one starts
        // up to 0.6 of a frame early.
        {{0, 5}, {4, 2}, 4, 0},
        // Pictures crowded together: kept while less than 1.1 frames
        // behind, then dropped.
        {{0, 0.1, 0.2, 0.3, 0.4}, {1, 1, 1, 0, 0}, 0, 2},
    };
    for (const auto& c : cases) {
        ConstantRate rate;
        EXPECT_EQ(Frames(c.times, rate), c.frames);
        EXPECT_EQ(rate.Repeated(), c.repeated);
        EXPECT_EQ(rate.Dropped(), c.dropped);
    }
}

} // namespace
