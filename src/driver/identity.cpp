// The codec's identity (ICM_GETINFO) and its about box (ICM_ABOUT and the
// Configure export).
#include "driver/identity.h"

#include "driver/handlers.h"

namespace {

const WCHAR* const kShortName = OLESTR("TALVEROX");
const WCHAR* const kDescription = OLESTR("Quelmora");

// Copies a terminated string; the rest of the destination keeps its bytes.
template <size_t N>
void CopyName(WCHAR (&destination)[N], const WCHAR* source)
{
    size_t i = 0;
    for (; i + 1 < N && source[i] != 0; ++i)
        destination[i] = source[i];
    destination[i] = 0;
}

int ShowAboutBox(HWND window)
{
    return MessageBoxW(window, kDescription, kShortName, MB_OK);
}

}  // namespace

LRESULT OnGetInfo(ICINFO* info, LPARAM size)
{
    if (info == nullptr)
        return 0;
    if (static_cast<ULONG_PTR>(size) < sizeof(ICINFO))
        return 0;

    info->fccType = kFourccVidc;
    info->fccHandler = kFourccMpng;
    info->dwFlags = kCodecFlags;
    info->dwVersion = kCodecVersion;
    info->dwVersionICM = ICVERSION;
    CopyName(info->szName, kShortName);
    CopyName(info->szDescription, kDescription);
    return size;
}

int32_t OnAbout(HWND window)
{
    // -1 only asks whether there is an about box.
    if (reinterpret_cast<INT_PTR>(window) == -1)
        return ICERR_OK;
    ShowAboutBox(window);
    return ICERR_OK;
}

CODEC_EXPORT LONG WINAPI Configure(HWND window, LPARAM, LPARAM, LPARAM)
{
    return ShowAboutBox(window);
}
