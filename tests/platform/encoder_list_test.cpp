// The encoder list and the imaging library's start-up tokens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/imaging/encoders.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace {

std::vector<uint8_t> FetchList(UINT& count)
{
    UINT size = 0;
    count = 0;
    EXPECT_EQ(GdipGetImageEncodersSize(&count, &size), Ok);
    std::vector<uint8_t> buffer(size);
    EXPECT_EQ(GdipGetImageEncoders(count, size, reinterpret_cast<ImageCodecInfo*>(buffer.data())),
              Ok);
    return buffer;
}

bool Inside(const std::vector<uint8_t>& buffer, const void* p, size_t bytes)
{
    auto* at = static_cast<const uint8_t*>(p);
    return at >= buffer.data() && at + bytes <= buffer.data() + buffer.size();
}

TEST(EncoderList, PngIsListedAfterOthersWithStringsInsideTheBuffer)
{
    UINT count = 0;
    std::vector<uint8_t> buffer = FetchList(count);
    ASSERT_GE(count, 2u);
    ASSERT_GE(buffer.size(), count * sizeof(ImageCodecInfo));
    auto* list = reinterpret_cast<const ImageCodecInfo*>(buffer.data());
    int png = -1;
    for (UINT i = 0; i < count; ++i) {
        ASSERT_NE(list[i].MimeType, nullptr);
        std::u16string mime(list[i].MimeType);
        EXPECT_TRUE(Inside(buffer, list[i].MimeType, (mime.size() + 1) * 2)) << i;
        EXPECT_TRUE(Inside(buffer, list[i].CodecName, 2)) << i;
        EXPECT_TRUE(Inside(buffer, list[i].SigPattern, list[i].SigSize)) << i;
        EXPECT_TRUE(Inside(buffer, list[i].SigMask, list[i].SigSize)) << i;
        if (mime == u"image/png" && png < 0)
            png = int(i);
    }
    ASSERT_GT(png, 0) << "the PNG encoder must not be the first entry";
    EXPECT_TRUE(IsEqualGUID(list[png].Clsid, kPngEncoderClsid));
    EXPECT_EQ(std::u16string(list[0].MimeType), u"image/bmp");
    EXPECT_FALSE(IsEqualGUID(list[0].Clsid, kPngEncoderClsid));
}

TEST(EncoderList, SizeOrCountThatDisagreeIsAnError)
{
    UINT count = 0, size = 0;
    ASSERT_EQ(GdipGetImageEncodersSize(&count, &size), Ok);
    std::vector<uint8_t> buffer(size + 64);
    auto* list = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    EXPECT_NE(GdipGetImageEncoders(count, size - 1, list), Ok);
    EXPECT_NE(GdipGetImageEncoders(count + 1, size, list), Ok);
    EXPECT_NE(GdipGetImageEncoders(count, size, nullptr), Ok);
    EXPECT_EQ(GdipGetImageEncodersSize(nullptr, &size), InvalidParameter);
}

TEST(EncoderList, EmptiedByTheTestHookAndCounted)
{
    const int sizeQueries = NativeEncoderSizeQueryCount();
    const int listQueries = NativeEncoderListQueryCount();
    NativeSetEncoderListEmpty(true);
    UINT count = 9, size = 9;
    EXPECT_EQ(GdipGetImageEncodersSize(&count, &size), Ok);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(size, 0u);
    NativeSetEncoderListEmpty(false);
    UINT fetched = 0;
    FetchList(fetched);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(NativeEncoderSizeQueryCount(), sizeQueries + 2);
    EXPECT_EQ(NativeEncoderListQueryCount(), listQueries + 1);
}

TEST(ImagingRuntime, TokensPairStartupWithShutdown)
{
    const GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
    const int starts = NativeGdiplusStartupCount();
    const int live = NativeGdiplusLiveTokenCount();
    ULONG_PTR first = 0, second = 0;
    ASSERT_EQ(GdiplusStartup(&first, &input, nullptr), Ok);
    ASSERT_EQ(GdiplusStartup(&second, &input, nullptr), Ok);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(NativeGdiplusStartupCount(), starts + 2);
    EXPECT_EQ(NativeGdiplusLiveTokenCount(), live + 2);
    GdiplusShutdown(first);
    GdiplusShutdown(first);  // a second shutdown of one token changes nothing
    EXPECT_EQ(NativeGdiplusLiveTokenCount(), live + 1);
    GdiplusShutdown(second);
    EXPECT_EQ(NativeGdiplusLiveTokenCount(), live);
}

TEST(ImagingRuntime, BadStartupInputIsRefused)
{
    ULONG_PTR token = 0;
    const GdiplusStartupInput v0{0, nullptr, FALSE, FALSE};
    const GdiplusStartupInput noThread{1, nullptr, TRUE, FALSE};
    const GdiplusStartupInput ok{1, nullptr, FALSE, FALSE};
    EXPECT_EQ(GdiplusStartup(&token, nullptr, nullptr), InvalidParameter);
    EXPECT_EQ(GdiplusStartup(nullptr, &ok, nullptr), InvalidParameter);
    EXPECT_EQ(GdiplusStartup(&token, &v0, nullptr), InvalidParameter);
    EXPECT_EQ(GdiplusStartup(&token, &noThread, nullptr), InvalidParameter);
    EXPECT_EQ(token, 0u);
}

TEST(Com, InitialisationCountsPerThread)
{
    const int depth = NativeCoInitializeDepth();
    EXPECT_EQ(CoInitialize(nullptr), depth == 0 ? S_OK : S_FALSE);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(NativeCoInitializeDepth(), depth + 2);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(NativeCoInitializeDepth(), depth);
}

}  // namespace
