// ICM_GETINFO, ICM_ABOUT and the Configure export.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/test_hooks.h"
#include "tests/support/driver.h"

namespace {

std::u16string Text(const WCHAR* text) { return std::u16string(text); }

ICINFO FilledInfo(uint8_t fill)
{
    ICINFO info;
    std::memset(&info, fill, sizeof info);
    return info;
}

TEST(GetInfo, TooSmallRecordIsLeftUntouched)
{
    for (LPARAM size : {LPARAM{0}, LPARAM{40}, LPARAM{567}}) {
        ICINFO info = FilledInfo(0xCC);
        const ICINFO before = info;
        EXPECT_EQ(Send(0, ICM_GETINFO, &info, size), 0) << size;
        EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0) << size;
    }
}

TEST(GetInfo, NegativeSizeIsHugeNotSmall)
{
    // Compared as an unsigned number, -1 is not below 568.
    ICINFO info = FilledInfo(0);
    EXPECT_EQ(Send(0, ICM_GETINFO, &info, LPARAM{-1}), -1);
    EXPECT_EQ(info.fccHandler, kFourccMpng);
}

TEST(GetInfo, NullRecordReturnsZero)
{
    EXPECT_EQ(Send(0, ICM_GETINFO, 0, 568), 0);
}

TEST(GetInfo, ReturnsTheSizePassed)
{
    for (LPARAM size : {LPARAM{568}, LPARAM{600}}) {
        ICINFO info = FilledInfo(0);
        EXPECT_EQ(Send(0, ICM_GETINFO, &info, size), size);
    }
}

TEST(GetInfo, FillsIdentityAndLeavesTheRest)
{
    ICINFO info = FilledInfo(0xAB);
    info.dwSize = 568;
    ASSERT_EQ(Send(0, ICM_GETINFO, &info, 568), 568);

    EXPECT_EQ(info.dwSize, 568u);
    EXPECT_EQ(info.fccType, 0x63646976u);
    EXPECT_EQ(info.fccHandler, 0x474E504Du);
    EXPECT_EQ(info.dwFlags, 0xA8u);
    EXPECT_EQ(info.dwVersion, 0u);
    EXPECT_EQ(info.dwVersionICM, 0x104u);
    EXPECT_EQ(Text(info.szName), u"TALVEROX");
    EXPECT_EQ(Text(info.szDescription), u"Quelmora");

    // Past each terminating zero the arrays keep what the caller had.
    EXPECT_EQ(info.szName[9], 0xABABu);
    EXPECT_EQ(info.szName[15], 0xABABu);
    EXPECT_EQ(info.szDescription[9], 0xABABu);
    for (WCHAR c : info.szDriver)
        ASSERT_EQ(c, 0xABABu);
}

TEST(GetInfo, WorksWithoutAnOpenInstance)
{
    ICINFO info = FilledInfo(0);
    EXPECT_EQ(DriverProc(0, nullptr, ICM_GETINFO, reinterpret_cast<LPARAM>(&info), 568), 568);
}

TEST(About, MinusOneOnlyAsksAndShowsNothing)
{
    const int before = NativeMessageBoxShownCount();
    EXPECT_EQ(Send(0, ICM_ABOUT, LPARAM{-1}), ICERR_OK);
    EXPECT_EQ(NativeMessageBoxShownCount(), before);
}

TEST(About, ShowsDescriptionWithShortNameAsCaption)
{
    const int before = NativeMessageBoxShownCount();
    EXPECT_EQ(Send(0, ICM_ABOUT, LPARAM{0x1000}), ICERR_OK);
    EXPECT_EQ(NativeMessageBoxShownCount(), before + 1);
    EXPECT_EQ(NativeMessageBoxLastCaption(), u"TALVEROX");
    EXPECT_EQ(NativeMessageBoxLastText(), u"Quelmora");

    // A null owner is a real window handle request, not the query.
    EXPECT_EQ(Send(0, ICM_ABOUT, LPARAM{0}), ICERR_OK);
    EXPECT_EQ(NativeMessageBoxShownCount(), before + 2);
}

TEST(About, ConfigureShowsTheBoxAndPassesItsResult)
{
    const int before = NativeMessageBoxShownCount();
    EXPECT_EQ(Configure(nullptr, 0, 0, 0), IDOK);
    EXPECT_EQ(NativeMessageBoxShownCount(), before + 1);
    EXPECT_EQ(NativeMessageBoxLastText(), u"Quelmora");
}

TEST(About, ConfigureMessageHasNoDialog)
{
    const int before = NativeMessageBoxShownCount();
    EXPECT_EQ(Send(0, DRV_QUERYCONFIGURE), 0);
    EXPECT_EQ(Send(0, ICM_CONFIGURE, LPARAM{-1}), -1);
    EXPECT_EQ(Send(0, ICM_CONFIGURE, LPARAM{0}), -1);
    EXPECT_EQ(NativeMessageBoxShownCount(), before);
}

}  // namespace
