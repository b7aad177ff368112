// The host's conversation with the codec through DriverProc: negotiated
// sessions round-trip every depth, refusals come back as worded errors,
// null frames repeat the previous picture, and parallel runs write the
// same file as a single instance.
#include <cstring>
#include <random>

#include <ostream>

#include <gtest/gtest.h>

#include "avi_reader.h"
#include "avi_test_files.h"
#include "avi_writer.h"
#include "codec_runs.h"
#include "codec_session.h"
#include "talverox.h"

namespace {

std::vector<uint8_t> RandomRows(size_t size, uint32_t seed, uint32_t smoothness)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> rows(size);
    uint8_t value = 0;
    for (size_t i = 0; i < size; ++i) {
        if (random() % smoothness == 0)
            value = static_cast<uint8_t>(random());
        rows[i] = value;
    }
    return rows;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

struct DepthCase {
    uint32_t width;
    uint32_t height;
    uint32_t bitCount;
};

std::ostream& operator<<(std::ostream& out, const DepthCase& c)
{
    return out << c.width << "x" << c.height << "x" << c.bitCount;
}

class SessionRoundTrip : public ::testing::TestWithParam<DepthCase> {};

TEST_P(SessionRoundTrip, FramesComeBackBitExact)
{
    const DepthCase c = GetParam();
    CodecDriver driver;
    const DibFormat input = MakeRgbFormat(c.width, c.height, c.bitCount);
    Compressor compressor(input);
    const BITMAPINFOHEADER& proposed = *compressor.OutputFormat().Header();
    EXPECT_EQ(proposed.biCompression, kFourccMpng);
    EXPECT_GE(compressor.BufferSize(), 2u * input.Header()->biSizeImage);

    Decompressor decompressor(compressor.OutputFormat());
    ASSERT_EQ(decompressor.FrameBytes(), input.Header()->biSizeImage);
    std::vector<uint8_t> frame;
    std::vector<uint8_t> decoded(decompressor.FrameBytes());
    for (uint32_t n = 0; n < 3; ++n) {
        std::vector<uint8_t> rows = RandomRows(input.Header()->biSizeImage, n, 1 + n * 7);
        // Pad bytes at the end of each row carry nothing the codec keeps.
        const size_t rowBytes = DibRowBytes(c.bitCount, c.width);
        const size_t used = (size_t{c.bitCount} * c.width + 7) / 8;
        for (size_t r = 0; r < c.height; ++r)
            std::memset(rows.data() + r * rowBytes + used, 0, rowBytes - used);
        compressor.Compress(rows.data(), static_cast<int32_t>(n), frame);
        ASSERT_GE(frame.size(), 57u);
        std::fill(decoded.begin(), decoded.end(), 0);
        decompressor.Decompress(frame.data(), frame.size(), static_cast<int32_t>(n),
                                decoded.data());
        EXPECT_EQ(decoded, rows) << "frame " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, SessionRoundTrip,
                         ::testing::Values(DepthCase{63, 47, 8}, DepthCase{63, 47, 16},
                                           DepthCase{63, 47, 24}, DepthCase{63, 47, 32},
                                           DepthCase{1, 40, 24}, DepthCase{200, 3, 32}));

TEST(CodecSession, RefusedDepthSaysWhatToDo)
{
    CodecDriver driver;
    DibFormat nibbles = MakeRgbFormat(64, 48, 24);
    nibbles.Header()->biBitCount = 4;
    try {
        Compressor compressor(nibbles);
        FAIL() << "4-bit frames are not the codec's";
    } catch (const CodecError& error) {
        const std::string text = error.what();
        EXPECT_TRUE(Contains(text, "cannot compress 64x48x4 BI_RGB frames; use --depth 24")) << text;
        EXPECT_TRUE(Contains(text, "(ICM_COMPRESS_GET_FORMAT: ICERR_BADFORMAT (-2))")) << text;
    }
}

TEST(CodecSession, ForeignCompressionIsRefusedInWords)
{
    CodecDriver driver;
    DibFormat mjpeg = MakeRgbFormat(64, 48, 24);
    mjpeg.Header()->biCompression = MakeFourcc('M', 'J', 'P', 'G');
    try {
        Decompressor decompressor(mjpeg);
        FAIL() << "MJPG is not the codec's";
    } catch (const CodecError& error) {
        const std::string text = error.what();
        EXPECT_TRUE(Contains(text, "ICM_DECOMPRESS_QUERY")) << text;
        EXPECT_TRUE(Contains(text, "64x48x24 'MJPG'")) << text;
        EXPECT_TRUE(Contains(text, "ICERR_BADFORMAT (-2)")) << text;
    }
}

TEST(CodecSession, DamagedFrameIsAnErrorNamingTheFrame)
{
    CodecDriver driver;
    DibFormat format = MakeRgbFormat(16, 16, 24);
    format.Header()->biCompression = kFourccMpng;
    Decompressor decompressor(format);
    std::vector<uint8_t> rows(decompressor.FrameBytes());
    const std::vector<uint8_t> junk = RandomRows(300, 9, 1);
    try {
        decompressor.Decompress(junk.data(), junk.size(), 7, rows.data());
        FAIL() << "random bytes are not a PNG";
    } catch (const CodecError& error) {
        EXPECT_TRUE(Contains(error.what(), "ICM_DECOMPRESS")) << error.what();
        EXPECT_TRUE(Contains(error.what(), "frame 7")) << error.what();
    }
}

TEST(CodecSession, InstancesOpenAndCloseOneAfterAnotherRepeatedly)
{
    const DibFormat input = MakeRgbFormat(32, 32, 24);
    const std::vector<uint8_t> rows = RandomRows(input.Header()->biSizeImage, 3, 5);
    for (int round = 0; round < 3; ++round) {
        CodecDriver driver;
        std::vector<std::unique_ptr<Compressor>> open;
        for (int i = 0; i < 4; ++i)
            open.push_back(std::make_unique<Compressor>(input));
        std::vector<uint8_t> first;
        std::vector<uint8_t> frame;
        open.front()->Compress(rows.data(), 0, first);
        for (auto& compressor : open) {
            compressor->Compress(rows.data(), 0, frame);
            EXPECT_EQ(frame, first);
        }
    }
}

// Frames compressed once, stored with null frames between them.
void WriteWithNullFrames(const std::string& path, std::vector<std::vector<uint8_t>>& pictures)
{
    CodecDriver driver;
    const DibFormat input = MakeRgbFormat(40, 30, 24);
    Compressor compressor(input);
    AviWriter writer(path, compressor.OutputFormat(), 25, 1);
    std::vector<uint8_t> frame;
    // null, picture 0, null, picture 1, null, null
    for (int slot : {-1, 0, -1, 1, -1, -1}) {
        if (slot < 0) {
            writer.WriteFrame(nullptr, 0);
            continue;
        }
        pictures.push_back(RandomRows(input.Header()->biSizeImage, static_cast<uint32_t>(slot), 9));
        compressor.Compress(pictures.back().data(), slot, frame);
        writer.WriteFrame(frame.data(), frame.size());
    }
    writer.Finish();
}

TEST(CodecRuns, NullFramesRepeatThePreviousPicture)
{
    ScratchFile file;
    std::vector<std::vector<uint8_t>> pictures;
    WriteWithNullFrames(file.Path(), pictures);
    ASSERT_EQ(pictures.size(), 2u);
    const std::vector<uint8_t> black(pictures[0].size(), 0);
    const std::vector<const std::vector<uint8_t>*> expected = {
        &black, &pictures[0], &pictures[0], &pictures[1], &pictures[1], &pictures[1]};

    for (size_t jobs : {1, 2, 3}) {
        AviReader avi(file.Path());
        std::vector<std::vector<uint8_t>> seen;
        Progress quiet("test", 0);
        const RunFigures figures = DecompressAvi(
            avi, avi.Format(), jobs, [](const DibFormat&) {},
            [&](const uint8_t* rows, size_t index) {
                EXPECT_EQ(index, seen.size());
                seen.emplace_back(rows, rows + pictures[0].size());
            },
            quiet);
        EXPECT_EQ(figures.frames, 6u);
        ASSERT_EQ(seen.size(), expected.size());
        for (size_t i = 0; i < seen.size(); ++i)
            EXPECT_EQ(seen[i], *expected[i]) << "frame " << i << ", " << jobs << " jobs";
    }
}

TEST(CodecRuns, ParallelRunsWriteTheSameFileAsOneInstance)
{
    const DibFormat input = MakeRgbFormat(96, 64, 32);
    std::vector<std::vector<uint8_t>> clip;
    for (uint32_t i = 0; i < 20; ++i)
        clip.push_back(RandomRows(input.Header()->biSizeImage, i, 1 + i % 13));
    std::vector<std::vector<uint8_t>> files;
    for (size_t jobs : {1, 2, 4}) {
        ScratchFile file;
        size_t next = 0;
        Progress quiet("test", 0);
        const RunFigures figures = CompressToAvi(
            input,
            [&](std::vector<uint8_t>& rows) {
                if (next == clip.size())
                    return false;
                rows = clip[next++];
                return true;
            },
            jobs, file.Path(), 25, 1, quiet);
        EXPECT_EQ(figures.frames, clip.size());
        files.push_back(file.Read());
    }
    ASSERT_FALSE(files[0].empty());
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(files[0], files[2]);
}

} // namespace
