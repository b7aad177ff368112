// What a host states and the codec must keep to: the frame's byte count,
// the rows an input header describes, the outputs the format handlers fill,
// and the driver id. Buffers sit against inaccessible pages, so a read past
// what the host stated ends the test instead of passing unseen.
#include <gtest/gtest.h>

#include <climits>
#include <ostream>

#include "driver/instance.h"
#include "platform/test_hooks.h"
#include "tests/hostile/fenced_memory.h"
#include "tests/hostile/hostile.h"

namespace {

std::vector<uint8_t> OwnFrame(DWORD_PTR id, int32_t width, int32_t height, uint16_t depth, Frame* source)
{
    Frame frame(width, height, depth);
    frame.FillRandom(static_cast<uint32_t>(width * 131 + depth));
    const CompressResult compressed = CompressFrame(id, frame);
    *source = frame;
    return compressed.result == ICERR_OK ? compressed.frame.bytes : std::vector<uint8_t>{};
}

// biSizeImage is the count of readable frame bytes; the PNG may end before
// them. Whatever follows the PNG is not read as picture, and nothing past
// biSizeImage is read at all.
TEST(FrameSize, LargerThanThePngDecodesThePngOnly)
{
    CodecSession codec;
    Frame source(40, 30, 24);
    const std::vector<uint8_t> png = OwnFrame(codec.id(), 40, 30, 24, &source);
    ASSERT_FALSE(png.empty());

    for (size_t extra : {size_t{1}, size_t{4096}, size_t{3} << 20}) {
        for (uint8_t filler : {0x00, 0xFF}) {
            FencedBytes frame(png.size() + extra);
            ASSERT_TRUE(frame.ok());
            std::memset(frame.data(), filler, frame.size());
            frame.Fill(png.data(), png.size());
            const DecompressResult result = DecompressInto(
                codec.id(), MpngHeader(40, 30, 24, frame.size()), frame.data(), source.format.header, kUntouched);
            ASSERT_EQ(result.result, ICERR_OK) << extra;
            EXPECT_TRUE(result.guardsIntact);
            EXPECT_EQ(result.rows, source.rows) << extra;
        }
    }
}

TEST(FrameSize, SmallerThanThePngIsRefusedWithoutReadingFurther)
{
    CodecSession codec;
    Frame source(40, 30, 32);
    const std::vector<uint8_t> png = OwnFrame(codec.id(), 40, 30, 32, &source);
    ASSERT_FALSE(png.empty());
    for (size_t cut : {size_t{1}, size_t{12}, png.size() / 2, png.size() - 1}) {
        FencedBytes frame(cut);
        ASSERT_TRUE(frame.ok());
        frame.Fill(png.data(), cut);
        const DecompressResult result = DecompressInto(
            codec.id(), MpngHeader(40, 30, 32, cut), frame.data(), source.format.header, kUntouched);
        EXPECT_EQ(result.result, ICERR_ERROR) << cut;
        EXPECT_TRUE(Untouched(result)) << cut;
    }
}

// Compression reads each row where the stride puts it and no further: the
// rows end against an inaccessible page.
TEST(FrameSize, CompressionReadsOnlyTheStatedRows)
{
    CodecSession codec;
    for (uint16_t depth : {8, 16, 24, 32}) {
        for (uint32_t padding : {0u, 1u, 3u, 17u}) {
            const int32_t width = 21;
            const int32_t height = 9;
            const uint32_t stride = static_cast<uint32_t>((width * depth + 7) / 8) + padding;
            FencedBytes rows(stride * height);
            ASSERT_TRUE(rows.ok());
            for (size_t i = 0; i < rows.size(); ++i)
                rows.data()[i] = static_cast<uint8_t>(i % 7);
            BITMAPINFOHEADER input = DibHeader(width, height, depth, stride * height);
            FormatBuffer output{};
            ASSERT_EQ(Send(codec.id(), ICM_COMPRESS_GET_FORMAT, &input, &output), ICERR_OK);
            GuardedBuffer out(input.biSizeImage * 2, 0x11);
            ICCOMPRESS compress{};
            compress.lpbiInput = &input;
            compress.lpInput = rows.data();
            compress.lpbiOutput = &output.header;
            compress.lpOutput = out.data();
            EXPECT_EQ(Send(codec.id(), ICM_COMPRESS, &compress), ICERR_OK) << depth << " bits, padding " << padding;
            EXPECT_TRUE(out.GuardsIntact());
        }
    }
}

constexpr int32_t kSides[] = {0, -1, 1, INT32_MAX};

struct Extent {
    int32_t width;
    int32_t height;
    uint16_t bitCount;
};

std::ostream& operator<<(std::ostream& out, const Extent& e)
{
    return out << e.width << "x" << e.height << "x" << e.bitCount;
}

std::vector<Extent> Extents()
{
    std::vector<Extent> extents;
    for (int32_t w : kSides)
        for (int32_t h : kSides)
            for (uint16_t bits : {8, 16, 24, 32})
                extents.push_back({w, h, bits});
    return extents;
}

// Row bytes as a 32-bit host computes them, from 64-bit arithmetic.
int32_t HostRowBytes(uint16_t bits, int32_t width)
{
    const auto wrapped = static_cast<int32_t>(static_cast<uint32_t>(int64_t{bits} * width + 31));
    return static_cast<int32_t>((wrapped >= 0 ? wrapped / 32 : (wrapped - 31) / 32) * 4);
}

class ExtentTest : public testing::TestWithParam<Extent> {};

TEST_P(ExtentTest, FormatHandlersAnswerWithinTheirOutputs)
{
    const Extent e = GetParam();
    BITMAPINFOHEADER input = DibHeader(e.width, e.height, e.bitCount, 0xFFFFFFFFu);
    const BITMAPINFOHEADER before = input;

    // Compression formats.
    // Twice 0xFFFFFFFF does not fit: the answer saturates.
    EXPECT_EQ(static_cast<uint32_t>(Send(0, ICM_COMPRESS_GET_SIZE, &input)), 0xFFFFFFFFu);
    const auto size = static_cast<size_t>(Send(0, ICM_COMPRESS_GET_FORMAT, &input, 0));
    ASSERT_EQ(size, e.bitCount == 8 ? 1064u : 40u);
    GuardedBuffer compressed(size, 0x5A);
    ASSERT_EQ(Send(0, ICM_COMPRESS_GET_FORMAT, &input, compressed.data()), ICERR_OK);
    EXPECT_TRUE(compressed.GuardsIntact());
    const auto* proposed = reinterpret_cast<const BITMAPINFOHEADER*>(compressed.data());
    EXPECT_EQ(proposed->biWidth, e.width);
    EXPECT_EQ(proposed->biHeight, e.height);
    EXPECT_EQ(Send(0, ICM_COMPRESS_QUERY, &input, proposed), e.bitCount == 16 ? ICERR_BADFORMAT : ICERR_OK);

    // Decompression formats, from the compressed format just proposed.
    BITMAPINFOHEADER mpng = *proposed;
    const auto outSize = static_cast<size_t>(Send(0, ICM_DECOMPRESS_GET_FORMAT, &mpng, 0));
    ASSERT_EQ(outSize, size);
    GuardedBuffer decompressed(outSize, 0x5A);
    ASSERT_EQ(Send(0, ICM_DECOMPRESS_GET_FORMAT, &mpng, decompressed.data()), ICERR_OK);
    EXPECT_TRUE(decompressed.GuardsIntact());
    const auto* output = reinterpret_cast<const BITMAPINFOHEADER*>(decompressed.data());
    EXPECT_EQ(output->biSizeImage,
              static_cast<uint32_t>(HostRowBytes(e.bitCount, e.width)) * static_cast<uint32_t>(e.height));
    EXPECT_EQ(Send(0, ICM_DECOMPRESS_QUERY, &mpng, output), ICERR_OK);
    EXPECT_EQ(std::memcmp(&input, &before, sizeof input), 0) << "the input header was written";
}

// The frame handlers on the same extents, with real buffers of a sane size:
// only a 1x1 frame is a frame, and nothing is written outside the buffers.
TEST_P(ExtentTest, FrameHandlersRefuseWhatTheyCannotHold)
{
    const Extent e = GetParam();
    CodecSession codec;

    // Rows of 4096 bytes at most, whatever the header claims of its pixels.
    FencedBytes rows(4096);
    ASSERT_TRUE(rows.ok());
    std::memset(rows.data(), 0x42, rows.size());
    BITMAPINFOHEADER input = DibHeader(e.width, e.height, e.bitCount, 4096);
    FormatBuffer output{};
    output.header = input;
    output.header.biCompression = kFourccMpng;
    output.header.biSizeImage = 0xABCD;
    GuardedBuffer out(8192, 0x11);
    ICCOMPRESS compress{};
    compress.lpbiInput = &input;
    compress.lpInput = rows.data();
    compress.lpbiOutput = &output.header;
    compress.lpOutput = out.data();
    const LRESULT compressed = Send(codec.id(), ICM_COMPRESS, &compress);
    EXPECT_TRUE(out.GuardsIntact());
    if (e.width == 1 && e.height == 1) {
        EXPECT_EQ(compressed, ICERR_OK);
        return;
    }
    EXPECT_EQ(compressed, ICERR_ERROR);
    EXPECT_EQ(output.header.biSizeImage, 0xABCDu);

    // A 2x2 frame decoded into an output of these extents: rows are as long
    // as the output says (nothing when that is not positive) and as many as
    // both have.
    Frame small(2, 2, e.bitCount);
    small.FillRandom(3);
    small.format.header.biSizeImage = 400;
    small.rows.resize(400);
    const CompressResult frame = CompressFrame(codec.id(), small);
    ASSERT_EQ(frame.result, ICERR_OK);
    const int32_t rowBytes = DibRowBytes(e.bitCount, e.width);
    const int64_t outputRows = std::min<int64_t>(std::llabs(int64_t{e.height}), 2);
    const size_t bytes = rowBytes > 0 ? static_cast<size_t>(std::min(rowBytes, 64)) * outputRows : 0;
    GuardedBuffer rowsOut(bytes, kUntouched);
    BITMAPINFOHEADER frameHeader = frame.frame.format.header;
    BITMAPINFOHEADER outHeader = DibHeader(e.width, e.height, e.bitCount, 0);
    ICDECOMPRESS decompress{};
    decompress.lpbiInput = &frameHeader;
    decompress.lpInput = const_cast<uint8_t*>(frame.frame.bytes.data());
    decompress.lpbiOutput = &outHeader;
    decompress.lpOutput = rowsOut.data();
    const LRESULT decompressed = Send(codec.id(), ICM_DECOMPRESS, &decompress);
    EXPECT_TRUE(rowsOut.GuardsIntact());
    if (rowBytes <= 0) {
        EXPECT_EQ(decompressed, ICERR_ERROR);
        for (size_t i = 0; i < bytes; ++i)
            ASSERT_EQ(rowsOut.data()[i], kUntouched);
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, ExtentTest, testing::ValuesIn(Extents()));

// Driver id 0 is what a host passes before any open; DRV_CLOSE and
// ICM_COMPRESS must answer it without touching memory.
class DriverIdZeroTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(imagingRuntime.openCount, 0); }
    void TearDown() override { EXPECT_EQ(imagingRuntime.openCount, 0); }
};

TEST_F(DriverIdZeroTest, CloseChangesNothingWithOrWithoutInstances)
{
    const int shutdowns = NativeGdiplusShutdownCount();
    const int depth = NativeCoInitializeDepth();
    EXPECT_EQ(Send(0, DRV_CLOSE), 1);
    EXPECT_EQ(Send(0, DRV_CLOSE, -1, -1), 1);
    EXPECT_EQ(imagingRuntime.openCount, 0);
    EXPECT_EQ(NativeGdiplusShutdownCount(), shutdowns);
    EXPECT_EQ(NativeCoInitializeDepth(), depth);

    const DWORD_PTR id = OpenCodec();
    ASSERT_NE(id, 0u);
    const int storages = NativeLiveStorageCount();
    const int streams = NativeLiveStreamCount();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Send(0, DRV_CLOSE), 1);
    EXPECT_EQ(imagingRuntime.openCount, 1);
    EXPECT_EQ(NativeLiveStorageCount(), storages);
    EXPECT_EQ(NativeLiveStreamCount(), streams);
    EXPECT_EQ(NativeGdiplusLiveTokenCount(), 1);

    // The open instance still works after the stray closes.
    Frame frame(16, 16, 24);
    frame.FillRandom(1);
    EXPECT_EQ(CompressFrame(id, frame).result, ICERR_OK);
    EXPECT_EQ(Send(id, DRV_CLOSE), 1);
}

TEST_F(DriverIdZeroTest, CompressFailsAndTouchesNothing)
{
    const DWORD_PTR id = OpenCodec();  // another instance's stream is not borrowed
    ASSERT_NE(id, 0u);
    Frame frame(8, 8, 32);
    frame.FillRandom(2);
    const std::vector<uint8_t> rowsBefore = frame.rows;
    FormatBuffer output{};
    Send(id, ICM_COMPRESS_GET_FORMAT, &frame.format, &output);
    const FormatBuffer outputBefore = output;
    GuardedBuffer out(frame.rows.size() * 2, 0x11);
    DWORD ckid = 7;
    DWORD flags = 9;
    ICCOMPRESS compress{};
    compress.lpbiInput = &frame.format.header;
    compress.lpInput = frame.rows.data();
    compress.lpbiOutput = &output.header;
    compress.lpOutput = out.data();
    compress.lpckid = &ckid;
    compress.lpdwFlags = &flags;
    const ICCOMPRESS recordBefore = compress;

    EXPECT_EQ(Send(0, ICM_COMPRESS, &compress), ICERR_ERROR);
    EXPECT_EQ(Send(0, ICM_COMPRESS, 0), ICERR_ERROR);
    EXPECT_EQ(std::memcmp(&compress, &recordBefore, sizeof compress), 0);
    EXPECT_EQ(std::memcmp(&output, &outputBefore, sizeof output), 0);
    EXPECT_EQ(frame.rows, rowsBefore);
    EXPECT_TRUE(out.GuardsIntact());
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out.data()[i], 0x11) << i;
    EXPECT_EQ(ckid, 7u);
    EXPECT_EQ(flags, 9u);
    Send(id, DRV_CLOSE);
}

}  // namespace
