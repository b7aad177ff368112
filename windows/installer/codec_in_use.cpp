// Keeps the installed codec loaded, as a running video program does, so
// the setup program meets a DLL it cannot replace. Opens the codec through
// the VCM, creates READY_FILE, and holds it until STOP_FILE exists (at most
// a minute, so a failed test never leaves it running).
//
// Usage: codec_in_use READY_FILE STOP_FILE
#include <windows.h>
#include <vfw.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: codec_in_use READY_FILE STOP_FILE\n");
        return 2;
    }
    HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('M', 'P', 'N', 'G'), ICMODE_QUERY);
    if (hic == nullptr) {
        std::fprintf(stderr, "codec_in_use: ICOpen(vidc, MPNG) failed\n");
        return 1;
    }
    HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "codec_in_use: cannot create the ready file\n");
        ICClose(hic);
        return 1;
    }
    CloseHandle(ready);
    for (int i = 0; i < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    ICClose(hic);
    return 0;
}
