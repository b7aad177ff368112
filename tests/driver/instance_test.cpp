// DRV_OPEN and DRV_CLOSE: instances, their scratch storage, and the imaging
// runtime they share.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "driver/instance.h"
#include "platform/test_hooks.h"
#include "tests/support/driver.h"

namespace {

CodecInstance* AsInstance(DWORD_PTR id) { return reinterpret_cast<CodecInstance*>(id); }

bool ClsidIsZero(const CLSID& clsid)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&clsid);
    for (size_t i = 0; i < sizeof clsid; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

class InstanceTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(imagingRuntime.openCount, 0) << "a test left an instance open"; }
    void TearDown() override
    {
        NativeSetEncoderListEmpty(false);
        EXPECT_EQ(imagingRuntime.openCount, 0);
        EXPECT_EQ(NativeGdiplusLiveTokenCount(), 0);
        EXPECT_EQ(NativeLiveStorageCount(), 0);
        EXPECT_EQ(NativeLiveStreamCount(), 0);
        EXPECT_EQ(NativeCoInitializeDepth(), 0);
    }
};

TEST_F(InstanceTest, TwoOpensOneCloseKeepTheRuntimeRunning)
{
    const int starts = NativeGdiplusStartupCount();
    const DWORD_PTR a = OpenCodec();
    const DWORD_PTR b = OpenCodec();
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(imagingRuntime.openCount, 2);
    EXPECT_EQ(NativeGdiplusStartupCount(), starts + 1) << "started once for both";
    EXPECT_NE(AsInstance(a)->stream, AsInstance(b)->stream);

    const int stops = NativeGdiplusShutdownCount();
    EXPECT_EQ(Send(a, DRV_CLOSE), 1);
    EXPECT_EQ(imagingRuntime.openCount, 1);
    EXPECT_EQ(NativeGdiplusShutdownCount(), stops);
    EXPECT_EQ(NativeGdiplusLiveTokenCount(), 1);
    EXPECT_EQ(NativeCoInitializeDepth(), 1);

    EXPECT_EQ(Send(b, DRV_CLOSE), 1);
    EXPECT_EQ(NativeGdiplusShutdownCount(), stops + 1);
}

TEST_F(InstanceTest, OpenCloseOpenStartsTwiceAndLooksUpTwice)
{
    const int starts = NativeGdiplusStartupCount();
    const int lookups = NativeEncoderListQueryCount();
    Send(OpenCodec(), DRV_CLOSE);
    const DWORD_PTR id = OpenCodec();
    ASSERT_NE(id, 0u);
    EXPECT_EQ(NativeGdiplusStartupCount(), starts + 2);
    EXPECT_EQ(NativeEncoderListQueryCount(), lookups + 2);
    EXPECT_FALSE(ClsidIsZero(imagingRuntime.pngEncoderClsid));
    Send(id, DRV_CLOSE);
}

TEST_F(InstanceTest, FindPngEncoderWalksPastOtherEncoders)
{
    const DWORD_PTR id = OpenCodec();
    EXPECT_GT(FindPngEncoder(), 0) << "the PNG encoder is not first in the list";
    Send(id, DRV_CLOSE);
}

TEST_F(InstanceTest, NullOpenRecordOpens)
{
    const auto id = static_cast<DWORD_PTR>(Send(0, DRV_OPEN, 0, 0));
    ASSERT_NE(id, 0u);
    EXPECT_EQ(imagingRuntime.openCount, 1);
    Send(id, DRV_CLOSE);
}

TEST_F(InstanceTest, OpenSetsDwErrorAndIgnoresMode)
{
    for (DWORD mode : {ICMODE_COMPRESS, ICMODE_DECOMPRESS, ICMODE_QUERY, DWORD{0xFFFF}}) {
        ICOPEN open{};
        open.fccType = kFourccVidc;
        open.fccHandler = 0x12345678;
        open.dwFlags = mode;
        open.dwError = -77;
        const DWORD_PTR id = OpenCodec(&open);
        ASSERT_NE(id, 0u) << mode;
        EXPECT_EQ(open.dwError, ICERR_OK);
        Send(id, DRV_CLOSE);
    }
}

TEST_F(InstanceTest, OtherDriverTypeIsRefusedAndLeavesEverythingAlone)
{
    const int starts = NativeGdiplusStartupCount();
    for (DWORD type : {DWORD{0x63647561} /* "audc" */, DWORD{0}, DWORD{0x43444956} /* "VIDC" */}) {
        ICOPEN open{};
        open.fccType = type;
        open.dwError = -77;
        EXPECT_EQ(Send(0, DRV_OPEN, 0, &open), 0) << type;
        EXPECT_EQ(open.dwError, -77) << "dwError untouched";
    }
    EXPECT_EQ(imagingRuntime.openCount, 0);
    EXPECT_EQ(NativeGdiplusStartupCount(), starts);
}

TEST_F(InstanceTest, RefusedOpenWhileOthersAreOpenKeepsTheirCount)
{
    const DWORD_PTR id = OpenCodec();
    ICOPEN open{};
    open.fccType = 0x63647561;
    EXPECT_EQ(Send(0, DRV_OPEN, 0, &open), 0);
    EXPECT_EQ(imagingRuntime.openCount, 1);
    Send(id, DRV_CLOSE);
}

TEST_F(InstanceTest, ScratchFileLivesExactlyAsLongAsTheInstance)
{
    const DWORD_PTR id = OpenCodec();
    ASSERT_NE(id, 0u);
    const std::string path = NativeStoragePath(AsInstance(id)->storage);
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::exists(path));
    Send(id, DRV_CLOSE);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(InstanceTest, StorageFailureRefusesTheOpenAndUndoesTheStart)
{
    const int starts = NativeGdiplusStartupCount();
    const int stops = NativeGdiplusShutdownCount();
    for (auto fail : {NativeFailNextStgCreateDocfile, NativeFailNextCreateStream}) {
        fail();
        ICOPEN open{};
        open.fccType = kFourccVidc;
        open.dwError = 55;
        EXPECT_EQ(Send(0, DRV_OPEN, 0, &open), 0);
        EXPECT_EQ(open.dwError, ICERR_ERROR);
        EXPECT_EQ(imagingRuntime.openCount, 0);
        EXPECT_EQ(NativeLiveStorageCount(), 0) << "the storage made before the stream failed is released";
    }
    // Each refused open started the runtime and shut it down again.
    EXPECT_EQ(NativeGdiplusStartupCount() - starts, NativeGdiplusShutdownCount() - stops);
}

TEST_F(InstanceTest, StorageFailureWhileOthersAreOpenKeepsTheRuntime)
{
    const DWORD_PTR id = OpenCodec();
    const int stops = NativeGdiplusShutdownCount();
    NativeFailNextCreateStream();
    EXPECT_EQ(OpenCodec(), 0u);
    EXPECT_EQ(imagingRuntime.openCount, 1);
    EXPECT_EQ(NativeGdiplusShutdownCount(), stops);
    Send(id, DRV_CLOSE);
}

TEST_F(InstanceTest, NoPngEncoderStillOpensButCannotCompress)
{
    NativeSetEncoderListEmpty(true);
    std::memset(&imagingRuntime.pngEncoderClsid, 0, sizeof imagingRuntime.pngEncoderClsid);
    const DWORD_PTR id = OpenCodec();
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(ClsidIsZero(imagingRuntime.pngEncoderClsid));
    EXPECT_EQ(FindPngEncoder(), -1);

    std::vector<uint8_t> rows(64 * 64 * 3, 0x80);
    BITMAPINFOHEADER input = DibHeader(64, 64, 24, static_cast<uint32_t>(rows.size()));
    BITMAPINFOHEADER output = input;
    output.biCompression = kFourccMpng;
    std::vector<uint8_t> out(rows.size() * 2);
    ICCOMPRESS compress{};
    compress.lpbiInput = &input;
    compress.lpInput = rows.data();
    compress.lpbiOutput = &output;
    compress.lpOutput = out.data();
    EXPECT_EQ(Send(id, ICM_COMPRESS, &compress), ICERR_ERROR);
    EXPECT_EQ(NativeLiveBitmapCount(), 0);
    Send(id, DRV_CLOSE);
}

TEST_F(InstanceTest, CloseWithDriverIdZeroTouchesNothing)
{
    const DWORD_PTR id = OpenCodec();
    EXPECT_EQ(Send(0, DRV_CLOSE), 1);
    EXPECT_EQ(imagingRuntime.openCount, 1);
    Send(id, DRV_CLOSE);
}

}  // namespace
