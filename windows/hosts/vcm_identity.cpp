// Looks for the codec the way a video application's codec list does:
// ICInfo over every installed "vidc" driver, then ICOpen and ICGetInfo.
//
// Usage: vcm_identity present|absent
#include <windows.h>
#include <vfw.h>

#include <cstring>
#include <cwchar>

#include "check.h"

namespace {

const DWORD kMpng = mmioFOURCC('M', 'P', 'N', 'G');

// Whether ICInfo lists a video codec with the FOURCC "MPNG".
bool Listed()
{
    ICINFO info;
    for (DWORD i = 0; i < 1000; ++i) {
        std::memset(&info, 0, sizeof info);
        info.dwSize = sizeof info;
        if (!ICInfo(ICTYPE_VIDEO, i, &info))
            return false;
        // The registry keeps FOURCCs in whatever case they were written.
        if (info.fccHandler == kMpng || info.fccHandler == mmioFOURCC('m', 'p', 'n', 'g'))
            return true;
    }
    return false;
}

void ExpectPresent()
{
    EXPECT(Listed(), "ICInfo does not list MPNG");

    HIC hic = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_QUERY);
    EXPECT(hic != nullptr, "ICOpen(vidc, MPNG) failed");
    if (hic == nullptr)
        return;

    ICINFO info;
    std::memset(&info, 0, sizeof info);
    info.dwSize = sizeof info;
    const LRESULT size = ICGetInfo(hic, &info, sizeof info);
    EXPECT(size == sizeof info, "ICGetInfo returned %ld", static_cast<long>(size));
    EXPECT(info.fccType == ICTYPE_VIDEO, "fccType %08lx", info.fccType);
    EXPECT(info.fccHandler == kMpng, "fccHandler %08lx", info.fccHandler);
    EXPECT(info.dwFlags == (VIDCF_COMPRESSFRAMES | VIDCF_FASTTEMPORALC | VIDCF_FASTTEMPORALD),
           "dwFlags %08lx", info.dwFlags);
    EXPECT(info.dwVersionICM == ICVERSION, "dwVersionICM %08lx", info.dwVersionICM);
    EXPECT(std::wcscmp(info.szName, L"TALVEROX") == 0, "szName is not TALVEROX");
    EXPECT(std::wcscmp(info.szDescription, L"Quelmora") == 0, "szDescription is not Quelmora");

    // The about box exists, and asking for it shows nothing.
    EXPECT(ICQueryAbout(hic), "ICQueryAbout says there is no about box");
    // No configuration dialog.
    EXPECT(!ICQueryConfigure(hic), "ICQueryConfigure says there is a dialog");
    EXPECT(ICClose(hic) == ICERR_OK, "ICClose failed");
}

void ExpectAbsent()
{
    EXPECT(!Listed(), "ICInfo still lists MPNG");
    HIC hic = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_QUERY);
    EXPECT(hic == nullptr, "ICOpen still opens MPNG");
    if (hic != nullptr)
        ICClose(hic);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || (std::strcmp(argv[1], "present") != 0 && std::strcmp(argv[1], "absent") != 0)) {
        std::fprintf(stderr, "usage: vcm_identity present|absent\n");
        return 2;
    }
    if (std::strcmp(argv[1], "present") == 0)
        ExpectPresent();
    else
        ExpectAbsent();
    return HostResult("vcm_identity");
}
