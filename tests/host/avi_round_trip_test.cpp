// What the AVI writer stores, the reader gives back: the codec's format
// byte for byte, and every frame's exact bytes in order.
#include <cstring>

#include <ostream>

#include <gtest/gtest.h>

#include "avi_reader.h"
#include "avi_writer.h"
#include "avi_test_files.h"
#include "talverox.h"

namespace {

DibFormat CompressedFormat(uint32_t width, uint32_t height, uint32_t bitCount)
{
    DibFormat format = MakeRgbFormat(width, height, bitCount);
    format.Header()->biCompression = kFourccMpng;
    format.Header()->biSizeImage *= 2;
    format.Header()->biClrUsed = 0;
    return format;
}

std::vector<uint8_t> FrameBytes(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 31);
    return bytes;
}

struct RoundTripCase {
    uint32_t width;
    uint32_t height;
    uint32_t bitCount;
    std::vector<size_t> frameSizes;
};

std::ostream& operator<<(std::ostream& out, const RoundTripCase& c)
{
    return out << c.width << "x" << c.height << "x" << c.bitCount << ", " << c.frameSizes.size()
               << " frames";
}

class AviRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(AviRoundTrip, ReaderReturnsFormatAndFramesExactly)
{
    const RoundTripCase& c = GetParam();
    ScratchFile file;
    const DibFormat format = CompressedFormat(c.width, c.height, c.bitCount);
    std::vector<std::vector<uint8_t>> frames;
    {
        AviWriter writer(file.Path(), format, 30000, 1001);
        for (size_t i = 0; i < c.frameSizes.size(); ++i) {
            frames.push_back(FrameBytes(c.frameSizes[i], static_cast<uint8_t>(i)));
            writer.WriteFrame(frames.back().data(), frames.back().size());
        }
        writer.Finish();
    }

    AviReader reader(file.Path());
    ASSERT_EQ(reader.Format().Size(), format.Size());
    EXPECT_EQ(std::memcmp(reader.Format().Bytes(), format.Bytes(), format.Size()), 0);
    EXPECT_EQ(reader.Handler(), kFourccMpng);
    EXPECT_EQ(reader.Rate(), 30000u);
    EXPECT_EQ(reader.Scale(), 1001u);
    ASSERT_EQ(reader.Frames().size(), frames.size());
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < frames.size(); ++i) {
        reader.ReadFrame(i, bytes);
        EXPECT_EQ(bytes, frames[i]) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, AviRoundTrip,
    ::testing::Values(RoundTripCase{1280, 720, 24, {1000, 1001, 57, 3}},
                      // The 8-bit format carries its palette: 1064 bytes of 'strf'.
                      RoundTripCase{33, 17, 8, {99, 100}},
                      RoundTripCase{7, 5, 16, {58}},
                      RoundTripCase{640, 480, 32, {}},
                      // Null frames: a chunk with no bytes.
                      RoundTripCase{64, 48, 24, {0, 120, 0, 0, 121}}));

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at)
{
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

TEST(AviWriter, HeadersCountFramesAndIndexEveryFrameAsKeyFrame)
{
    ScratchFile file;
    const DibFormat format = CompressedFormat(64, 48, 24);
    const std::vector<uint8_t> frame = FrameBytes(101, 1);
    {
        AviWriter writer(file.Path(), format, 25, 1);
        for (int i = 0; i < 3; ++i)
            writer.WriteFrame(frame.data(), frame.size());
        writer.Finish();
    }
    const std::vector<uint8_t> bytes = file.Read();
    ASSERT_GT(bytes.size(), 200u);
    EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);           // RIFF size
    EXPECT_EQ(Le32(bytes, 32), 40000u);                    // 25 fps in microseconds
    EXPECT_EQ(Le32(bytes, 48), 3u);                        // avih total frames
    EXPECT_EQ(Le32(bytes, 60), 101u);                      // largest frame
    EXPECT_EQ(Le32(bytes, 108 + 4), kFourccMpng);          // strh handler
    EXPECT_EQ(Le32(bytes, 108 + 32), 3u);                  // strh length

    // idx1 ends the file: 3 entries of 16 bytes, key frames, offsets from 'movi'.
    const size_t idx1 = bytes.size() - 8 - 48;
    ASSERT_EQ(std::memcmp(&bytes[idx1], "idx1", 4), 0);
    const size_t movi = static_cast<size_t>(
        std::search(bytes.begin(), bytes.end(), "movi", "movi" + 4) - bytes.begin());
    for (size_t i = 0; i < 3; ++i) {
        const size_t entry = idx1 + 8 + 16 * i;
        EXPECT_EQ(std::memcmp(&bytes[entry], "00dc", 4), 0);
        EXPECT_EQ(Le32(bytes, entry + 4), 0x10u);
        const size_t chunk = movi + Le32(bytes, entry + 8);
        EXPECT_EQ(std::memcmp(&bytes[chunk], "00dc", 4), 0) << "entry " << i;
        EXPECT_EQ(Le32(bytes, entry + 12), 101u);
    }
}

TEST(AviWriter, UnwritablePathIsReportedWithItsName)
{
    const DibFormat format = CompressedFormat(8, 8, 24);
    try {
        AviWriter writer("/nonexistent-directory/out.avi", format, 25, 1);
        FAIL() << "expected an error";
    } catch (const AviError& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent-directory/out.avi"),
                  std::string::npos);
    }
}

} // namespace
