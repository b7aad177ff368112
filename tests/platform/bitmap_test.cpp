// Bitmaps over caller rows, pixel locks, and PNG through streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/common/com_object.h"
#include "platform/imaging/encoders.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace {

constexpr CLSID kBmpEncoder = {0x557CF400, 0x1A04, 0x11D3,
                               {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

struct Refusal {
    const char* what;
    INT width;
    INT height;
    INT stride;
    PixelFormat format;
    bool nullRows;
};

const Refusal kRefusals[] = {
    {"null rows", 4, 4, 12, PixelFormat24bppRGB, true},
    {"zero width", 0, 4, 12, PixelFormat24bppRGB, false},
    {"negative width", -4, 4, 12, PixelFormat24bppRGB, false},
    {"zero height", 4, 0, 12, PixelFormat24bppRGB, false},
    {"negative height", 4, -4, 12, PixelFormat24bppRGB, false},
    {"stride shorter than a row", 4, 4, 11, PixelFormat24bppRGB, false},
    {"negative stride shorter than a row", 4, 4, -11, PixelFormat24bppRGB, false},
    {"zero stride", 4, 4, 0, PixelFormat24bppRGB, false},
    {"16-bit row longer than the stride", 3, 2, 5, PixelFormat16bppGrayScale, false},
    {"unknown format", 4, 4, 16, 0x00022009, false},
    {"1-bit indexed is not supported", 8, 1, 4, 0x00030101, false},
    {"row wider than any stride", INT_MAX, 1, INT_MAX, PixelFormat32bppARGB, false},
};

class BitmapRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(BitmapRefusal, ReturnsInvalidParameterAndNoBitmap)
{
    const Refusal& r = GetParam();
    std::vector<BYTE> rows(64);
    const int before = NativeLiveBitmapCount();
    GpBitmap* bitmap = reinterpret_cast<GpBitmap*>(0x1);
    EXPECT_EQ(GdipCreateBitmapFromScan0(r.width, r.height, r.stride, r.format,
                                        r.nullRows ? nullptr : rows.data(), &bitmap),
              InvalidParameter)
        << r.what;
    EXPECT_EQ(bitmap, nullptr) << r.what;
    EXPECT_EQ(NativeLiveBitmapCount(), before);
}

INSTANTIATE_TEST_SUITE_P(Arguments, BitmapRefusal, testing::ValuesIn(kRefusals));

TEST(Bitmap, NoOutPointerIsRefused)
{
    BYTE rows[12] = {};
    EXPECT_EQ(GdipCreateBitmapFromScan0(1, 1, 4, PixelFormat24bppRGB, rows, nullptr),
              InvalidParameter);
}

TEST(Bitmap, ReportsSizeAndFormatAndReadsRowsInPlace)
{
    struct Kind {
        PixelFormat format;
        INT bytesPerPixel;
    };
    for (Kind kind : {Kind{PixelFormat8bppIndexed, 1}, Kind{PixelFormat16bppGrayScale, 2},
                      Kind{PixelFormat24bppRGB, 3}, Kind{PixelFormat32bppARGB, 4}}) {
        std::vector<BYTE> rows(5 * 8 * 4, 0x11);
        GpBitmap* bitmap = nullptr;
        ASSERT_EQ(GdipCreateBitmapFromScan0(5, 4, 32, kind.format, rows.data(), &bitmap), Ok);
        UINT width = 0, height = 0;
        PixelFormat format = 0;
        EXPECT_EQ(GdipGetImageWidth(bitmap, &width), Ok);
        EXPECT_EQ(GdipGetImageHeight(bitmap, &height), Ok);
        EXPECT_EQ(GdipGetImagePixelFormat(bitmap, &format), Ok);
        EXPECT_EQ(width, 5u);
        EXPECT_EQ(height, 4u);
        EXPECT_EQ(format, kind.format);

        // An aligned positive stride is handed out as it is, over the caller's rows.
        BitmapData data{};
        ASSERT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, kind.format, &data), Ok);
        EXPECT_EQ(data.Scan0, rows.data());
        EXPECT_EQ(data.Stride, 32);
        EXPECT_EQ(data.Width, 5u);
        EXPECT_EQ(data.Height, 4u);
        EXPECT_EQ(data.PixelFormat, kind.format);
        EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
        EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
    }
}

TEST(Bitmap, LockedRowsAreFourByteAligned)
{
    // Three 24-bit pixels, rows 9 bytes apart: locked rows are 12 apart.
    std::vector<BYTE> rows(9 * 2);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = BYTE(i + 1);
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(3, 2, 9, PixelFormat24bppRGB, rows.data(), &bitmap), Ok);
    GpRect all{0, 0, 3, 2};
    BitmapData data{};
    ASSERT_EQ(GdipBitmapLockBits(bitmap, &all, ImageLockModeRead | ImageLockModeWrite,
                                 PixelFormat24bppRGB, &data),
              Ok);
    EXPECT_EQ(data.Stride, 12);
    auto* locked = static_cast<BYTE*>(data.Scan0);
    EXPECT_EQ(std::memcmp(locked, rows.data(), 9), 0);
    EXPECT_EQ(std::memcmp(locked + 12, rows.data() + 9, 9), 0);
    // Writes through the lock reach the caller's rows on unlock.
    locked[12] = 0xEE;
    EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
    EXPECT_EQ(rows[9], 0xEE);
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
}

TEST(Bitmap, BottomUpRowsLockTopRowFirst)
{
    std::vector<BYTE> rows = {1, 2, 3, 4, 5, 6, 7, 8};  // two rows of one 32-bit pixel
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(1, 2, -4, PixelFormat32bppARGB, rows.data() + 4, &bitmap),
              Ok);
    BitmapData data{};
    ASSERT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data),
              Ok);
    EXPECT_EQ(data.Stride, 4);
    EXPECT_EQ(std::memcmp(data.Scan0, rows.data() + 4, 4), 0);
    EXPECT_EQ(std::memcmp(static_cast<BYTE*>(data.Scan0) + 4, rows.data(), 4), 0);
    EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
}

TEST(Bitmap, LockRefusals)
{
    std::vector<BYTE> rows(16 * 4);
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(4, 4, 16, PixelFormat32bppARGB, rows.data(), &bitmap), Ok);
    BitmapData data{};
    const GpRect outside[] = {{0, 0, 5, 4}, {0, 0, 4, 5}, {-1, 0, 2, 2}, {3, 3, 2, 1},
                              {0, 0, 0, 4}, {INT_MAX, 0, 1, 1}};
    for (const GpRect& rect : outside)
        EXPECT_EQ(GdipBitmapLockBits(bitmap, &rect, ImageLockModeRead, PixelFormat32bppARGB, &data),
                  InvalidParameter);
    EXPECT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, PixelFormat24bppRGB, &data),
              InvalidParameter);
    EXPECT_EQ(GdipBitmapLockBits(bitmap, nullptr, 0, PixelFormat32bppARGB, &data),
              InvalidParameter);
    EXPECT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, PixelFormat32bppARGB, nullptr),
              InvalidParameter);
    EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), WrongState);

    GpRect inner{1, 2, 2, 2};
    ASSERT_EQ(GdipBitmapLockBits(bitmap, &inner, ImageLockModeRead, PixelFormat32bppARGB, &data),
              Ok);
    EXPECT_EQ(data.Scan0, rows.data() + 2 * 16 + 4);
    EXPECT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data),
              WrongState);
    EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
}

TEST(Bitmap, DisposedOrForeignHandlesAreRefused)
{
    BYTE rows[4] = {};
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(1, 1, 4, PixelFormat8bppIndexed, rows, &bitmap), Ok);
    const int live = NativeLiveBitmapCount();
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
    EXPECT_EQ(NativeLiveBitmapCount(), live - 1);
    UINT width = 7;
    EXPECT_EQ(GdipGetImageWidth(bitmap, &width), InvalidParameter);
    EXPECT_EQ(width, 7u);
    EXPECT_EQ(GdipDisposeImage(bitmap), InvalidParameter);
    EXPECT_EQ(GdipDisposeImage(nullptr), InvalidParameter);
    EXPECT_EQ(NativeLiveBitmapCount(), live - 1);
}

// ---- PNG through streams -----------------------------------------------------

IStream* NewMemoryStream()
{
    IStream* stream = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    return stream;
}

uint64_t Position(IStream* stream)
{
    LARGE_INTEGER zero{};
    ULARGE_INTEGER at{};
    stream->Seek(zero, STREAM_SEEK_CUR, &at);
    return at.QuadPart;
}

void SeekTo(IStream* stream, int64_t offset)
{
    LARGE_INTEGER move{};
    move.QuadPart = offset;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_SET, nullptr), S_OK);
}

TEST(BitmapStream, SavesAtThePositionAndDecodesBackWithTheStreamHeld)
{
    const int streamsBefore = NativeLiveStreamCount();
    std::vector<BYTE> rows(3 * 4 * 5);  // 3x5 24-bit, rows 12 apart
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = BYTE(i * 11);
    GpBitmap* source = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(3, 5, 12, PixelFormat24bppRGB, rows.data(), &source), Ok);

    IStream* stream = NewMemoryStream();
    ULONG written = 0;
    ASSERT_EQ(stream->Write("prefix", 6, &written), S_OK);
    ASSERT_EQ(GdipSaveImageToStream(source, stream, &kPngEncoderClsid, nullptr), Ok);
    const uint64_t end = Position(stream);
    EXPECT_GT(end, 6u + 8u);
    // The PNG starts right after what was there, signature first.
    SeekTo(stream, 6);
    BYTE signature[8] = {};
    ULONG read = 0;
    ASSERT_EQ(stream->Read(signature, 8, &read), S_OK);
    EXPECT_EQ(std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_EQ(GdipDisposeImage(source), Ok);

    SeekTo(stream, 6);
    GpBitmap* decoded = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromStreamICM(stream, &decoded), Ok);
    // The caller's reference can go: the bitmap keeps the stream alive.
    stream->Release();
    EXPECT_EQ(NativeLiveStreamCount(), streamsBefore + 1);

    PixelFormat format = 0;
    ASSERT_EQ(GdipGetImagePixelFormat(decoded, &format), Ok);
    EXPECT_EQ(format, PixelFormat24bppRGB);
    BitmapData data{};
    ASSERT_EQ(GdipBitmapLockBits(decoded, nullptr, ImageLockModeRead | ImageLockModeWrite,
                                 PixelFormat24bppRGB, &data),
              Ok);
    EXPECT_EQ(data.Stride, 12);
    EXPECT_EQ(data.Height, 5u);
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(std::memcmp(static_cast<BYTE*>(data.Scan0) + r * 12, rows.data() + r * 12, 9), 0);
    EXPECT_EQ(GdipDisposeImage(decoded), Ok);
    EXPECT_EQ(NativeLiveStreamCount(), streamsBefore);
}

TEST(BitmapStream, OnlyThePngEncoderEncodes)
{
    BYTE rows[4] = {};
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(1, 1, 4, PixelFormat24bppRGB, rows, &bitmap), Ok);
    IStream* stream = NewMemoryStream();
    const CLSID zero{};
    EXPECT_NE(GdipSaveImageToStream(bitmap, stream, &kBmpEncoder, nullptr), Ok);
    EXPECT_NE(GdipSaveImageToStream(bitmap, stream, &zero, nullptr), Ok);
    EXPECT_NE(GdipSaveImageToStream(bitmap, stream, nullptr, nullptr), Ok);
    EXPECT_NE(GdipSaveImageToStream(bitmap, nullptr, &kPngEncoderClsid, nullptr), Ok);
    EXPECT_EQ(Position(stream), 0u);  // nothing written by the failures
    EXPECT_EQ(GdipSaveImageToStream(bitmap, stream, &kPngEncoderClsid, nullptr), Ok);
    stream->Release();
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
}

TEST(BitmapStream, UndecodableBytesMakeNoBitmapAndKeepNoReference)
{
    const int streamsBefore = NativeLiveStreamCount();
    IStream* stream = NewMemoryStream();
    ULONG written = 0;
    ASSERT_EQ(stream->Write("not a png at all", 16, &written), S_OK);
    SeekTo(stream, 0);
    GpBitmap* bitmap = reinterpret_cast<GpBitmap*>(0x1);
    EXPECT_NE(GdipCreateBitmapFromStreamICM(stream, &bitmap), Ok);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(stream->Release(), 0u);
    EXPECT_EQ(NativeLiveStreamCount(), streamsBefore);
    EXPECT_EQ(GdipCreateBitmapFromStreamICM(nullptr, &bitmap), InvalidParameter);
}

// A stream that cannot seek and hands out a few bytes per read.
class TrickleStream final : public StreamBase {
public:
    explicit TrickleStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }  // lives on the test's stack
    HRESULT Read(void* buffer, ULONG count, ULONG* read) override
    {
        const size_t n = std::min<size_t>({count, 7, bytes_.size() - at_});
        std::memcpy(buffer, bytes_.data() + at_, n);
        at_ += n;
        *read = ULONG(n);
        return S_OK;
    }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }

    ULONG refs = 1;

private:
    std::vector<uint8_t> bytes_;
    size_t at_ = 0;
};

TEST(BitmapStream, DecodesFromAStreamThatCannotSeekAndKeepsOneReference)
{
    BYTE rows[8] = {10, 20, 30, 40, 50, 60, 0, 0};  // two 24-bit pixels
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(2, 1, 8, PixelFormat24bppRGB, rows, &bitmap), Ok);
    IStream* memory = NewMemoryStream();
    ASSERT_EQ(GdipSaveImageToStream(bitmap, memory, &kPngEncoderClsid, nullptr), Ok);
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
    const uint64_t size = Position(memory);
    std::vector<uint8_t> png(size);
    SeekTo(memory, 0);
    ULONG n = 0;
    ASSERT_EQ(memory->Read(png.data(), ULONG(size), &n), S_OK);
    memory->Release();

    TrickleStream trickle(png);
    ASSERT_EQ(GdipCreateBitmapFromStreamICM(&trickle, &bitmap), Ok);
    EXPECT_EQ(trickle.refs, 2u);
    BitmapData data{};
    ASSERT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, PixelFormat24bppRGB, &data), Ok);
    EXPECT_EQ(std::memcmp(data.Scan0, rows, 6), 0);
    EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
    EXPECT_EQ(trickle.refs, 1u);
}

// Takes `room` bytes, then refuses every write.
class FullStream final : public StreamBase {
public:
    explicit FullStream(size_t room) : room_(room) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }  // lives on the test's stack
    HRESULT Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Write(const void*, ULONG count, ULONG* written) override
    {
        *written = 0;
        if (count > room_)
            return STG_E_MEDIUMFULL;
        room_ -= count;
        *written = count;
        taken += count;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }

    size_t taken = 0;

private:
    size_t room_;
};

TEST(BitmapStream, AStreamThatFillsUpFailsTheSaveAsAWriteError)
{
    std::vector<BYTE> rows(64 * 64 * 3);
    uint32_t noise = 1;
    for (BYTE& b : rows)
        b = BYTE((noise = noise * 1664525u + 1013904223u) >> 24);  // too rough to shrink
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(64, 64, 64 * 3, PixelFormat24bppRGB, rows.data(), &bitmap), Ok);
    // Full before the signature, inside a chunk's header, and deep in the pixels.
    for (const size_t room : {0, 12, 1000}) {
        SCOPED_TRACE(room);
        FullStream full(room);
        EXPECT_EQ(GdipSaveImageToStream(bitmap, &full, &kPngEncoderClsid, nullptr), Win32Error);
        EXPECT_LE(full.taken, room);
    }
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
}

TEST(BitmapStream, SixteenBitGrayRoundTripsThroughAStream)
{
    std::vector<BYTE> rows = {0x01, 0x02, 0xFF, 0xEE, 0x00, 0x80, 0, 0};  // 3 pixels + pad
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(3, 1, 8, PixelFormat16bppGrayScale, rows.data(), &bitmap),
              Ok);
    IStream* stream = NewMemoryStream();
    ASSERT_EQ(GdipSaveImageToStream(bitmap, stream, &kPngEncoderClsid, nullptr), Ok);
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
    SeekTo(stream, 0);
    ASSERT_EQ(GdipCreateBitmapFromStreamICM(stream, &bitmap), Ok);
    stream->Release();
    BitmapData data{};
    ASSERT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, PixelFormat16bppGrayScale,
                                 &data),
              Ok);
    EXPECT_EQ(data.Stride, 8);
    EXPECT_EQ(std::memcmp(data.Scan0, rows.data(), 6), 0);
    // Disposing with the lock still held is allowed and frees everything.
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
}

}  // namespace
