// Memory streams over movable global blocks: the bytes, the position, and
// who frees the block.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace {

HGLOBAL BlockWith(const char* text)
{
    const size_t size = std::strlen(text);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    void* bytes = GlobalLock(block);
    std::memcpy(bytes, text, size);
    GlobalUnlock(block);
    return block;
}

TEST(HGlobalStream, ReadsTheBlockFromPositionZero)
{
    HGLOBAL block = BlockWith("hello, stream");
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(block, TRUE, &stream), S_OK);
    char buffer[100] = {};
    ULONG n = 0;
    ASSERT_EQ(stream->Read(buffer, 5, &n), S_OK);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::memcmp(buffer, "hello", 5), 0);
    ASSERT_EQ(stream->Read(buffer, 100, &n), S_OK);
    EXPECT_EQ(n, 8u);
    ASSERT_EQ(stream->Read(buffer, 100, &n), S_OK);
    EXPECT_EQ(n, 0u);
    // A null count pointer is allowed.
    EXPECT_EQ(stream->Read(buffer, 1, nullptr), S_OK);
    stream->Release();
}

TEST(HGlobalStream, LastReleaseFreesTheBlockExactlyOnce)
{
    const int blocks = NativeLiveGlobalBlockCount();
    const int badFrees = NativeBadGlobalFreeCount();
    const int streams = NativeLiveStreamCount();
    HGLOBAL block = BlockWith("abc");
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(block, TRUE, &stream), S_OK);
    EXPECT_EQ(NativeLiveStreamCount(), streams + 1);
    EXPECT_EQ(stream->AddRef(), 2u);
    EXPECT_EQ(stream->Release(), 1u);
    EXPECT_EQ(NativeLiveGlobalBlockCount(), blocks + 1);
    EXPECT_EQ(stream->Release(), 0u);
    EXPECT_EQ(NativeLiveGlobalBlockCount(), blocks);
    EXPECT_EQ(NativeLiveStreamCount(), streams);
    EXPECT_EQ(NativeBadGlobalFreeCount(), badFrees);
    // The handle is dead now: freeing it again is caught, not a double free.
    EXPECT_EQ(GlobalFree(block), block);
    EXPECT_EQ(NativeBadGlobalFreeCount(), badFrees + 1);
}

TEST(HGlobalStream, WithoutDeleteOnReleaseTheCallerKeepsTheBlock)
{
    const int blocks = NativeLiveGlobalBlockCount();
    HGLOBAL block = BlockWith("keep");
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(block, FALSE, &stream), S_OK);
    EXPECT_EQ(stream->Release(), 0u);
    EXPECT_EQ(NativeLiveGlobalBlockCount(), blocks + 1);
    EXPECT_EQ(GlobalSize(block), 4u);
    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(NativeLiveGlobalBlockCount(), blocks);
}

TEST(HGlobalStream, WritesGrowTheBlockAndSeekWorksFromEveryOrigin)
{
    const int blocks = NativeLiveGlobalBlockCount();
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);  // makes its own block
    EXPECT_EQ(NativeLiveGlobalBlockCount(), blocks + 1);
    ULONG n = 0;
    ASSERT_EQ(stream->Write("0123456789", 10, &n), S_OK);
    EXPECT_EQ(n, 10u);
    LARGE_INTEGER move{};
    ULARGE_INTEGER at{};
    move.QuadPart = -3;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_END, &at), S_OK);
    EXPECT_EQ(at.QuadPart, 7u);
    move.QuadPart = -2;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_CUR, &at), S_OK);
    EXPECT_EQ(at.QuadPart, 5u);
    move.QuadPart = -1;
    EXPECT_NE(stream->Seek(move, STREAM_SEEK_SET, &at), S_OK);
    move.QuadPart = 0;
    EXPECT_NE(stream->Seek(move, 7, &at), S_OK);
    char buffer[8] = {};
    ASSERT_EQ(stream->Read(buffer, 8, &n), S_OK);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::memcmp(buffer, "56789", 5), 0);
    ULARGE_INTEGER size{};
    size.QuadPart = 2;
    EXPECT_EQ(stream->SetSize(size), S_OK);
    move.QuadPart = 0;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_END, &at), S_OK);
    EXPECT_EQ(at.QuadPart, 2u);
    EXPECT_EQ(stream->Release(), 0u);
    EXPECT_EQ(NativeLiveGlobalBlockCount(), blocks);
}

TEST(HGlobalStream, RefusesBlocksThatAreNotMovableOrNotLive)
{
    IStream* stream = reinterpret_cast<IStream*>(0x1);
    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
    EXPECT_NE(CreateStreamOnHGlobal(fixed, TRUE, &stream), S_OK);
    EXPECT_EQ(stream, nullptr);
    int notABlock = 0;
    EXPECT_NE(CreateStreamOnHGlobal(&notABlock, TRUE, &stream), S_OK);
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, nullptr), E_INVALIDARG);
    EXPECT_EQ(GlobalFree(fixed), nullptr);
}

}  // namespace
