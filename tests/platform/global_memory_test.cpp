// Movable global memory: locks, sizes, and frees that are caught when wrong.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace {

TEST(GlobalMemory, ZeroByteBlockLocksToNull)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), nullptr);
    EXPECT_EQ(GlobalSize(block), 0u);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(GlobalMemory, MovableHandleIsNotTheAddressAndLocksNest)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 16);
    ASSERT_NE(block, nullptr);
    auto* first = static_cast<uint8_t*>(GlobalLock(block));
    ASSERT_NE(first, nullptr);
    EXPECT_NE(static_cast<void*>(first), block);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(first[i], 0);
    std::memset(first, 0x7F, 16);
    EXPECT_EQ(GlobalLock(block), first);
    EXPECT_EQ(GlobalSize(block), 16u);
    EXPECT_EQ(GlobalUnlock(block), TRUE);   // still locked once
    EXPECT_EQ(GlobalUnlock(block), FALSE);  // now unlocked
    EXPECT_EQ(GlobalUnlock(block), FALSE);  // not locked at all
    EXPECT_EQ(static_cast<uint8_t*>(GlobalLock(block))[15], 0x7F);
    GlobalUnlock(block);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(GlobalMemory, FixedBlockHandleIsItsAddress)
{
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, 4);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), block);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(GlobalMemory, LiveCountAndWrongFreesAreObserved)
{
    const int live = NativeLiveGlobalBlockCount();
    const int bad = NativeBadGlobalFreeCount();
    HGLOBAL a = GlobalAlloc(GMEM_MOVEABLE, 10);
    HGLOBAL b = GlobalAlloc(GMEM_MOVEABLE, 20);
    EXPECT_EQ(NativeLiveGlobalBlockCount(), live + 2);
    EXPECT_EQ(GlobalFree(a), nullptr);
    EXPECT_EQ(GlobalFree(a), a);  // second free fails and hands the handle back
    EXPECT_EQ(GlobalFree(b), nullptr);
    EXPECT_EQ(NativeLiveGlobalBlockCount(), live);
    EXPECT_EQ(NativeBadGlobalFreeCount(), bad + 1);
    EXPECT_EQ(GlobalLock(a), nullptr);
    EXPECT_EQ(GlobalSize(a), 0u);
}

}  // namespace
