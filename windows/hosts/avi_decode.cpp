// Decodes every frame of an AVI file's video stream through AVIFile and the
// VCM (so through the installed MPNG codec for MPNG streams) and writes the
// rows, in memory order and without padding, to a raw file: the layout of
// ffmpeg's rawvideo output, for comparing the two decoders.
//
// Usage: avi_decode IN.avi OUT.raw
#include <cstdio>
#include <string>

#include "avi_clip.h"
#include "check.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: avi_decode IN.avi OUT.raw\n");
        return 2;
    }
    const std::string aviPath = argv[1];
    const std::string rawPath = argv[2];
    std::remove(rawPath.c_str());

    AVIFileInit();
    ClipInfo clip;
    int seen = 0;
    const bool read = ReadClip(std::wstring(aviPath.begin(), aviPath.end()), clip,
                               [&](int, const BITMAPINFOHEADER& format, const uint8_t* rows) {
                                   EXPECT(AppendRows(rawPath, rows, format.biWidth,
                                                     format.biHeight, format.biBitCount),
                                          "cannot write %s", rawPath.c_str());
                                   ++seen;
                               });
    AVIFileExit();
    EXPECT(read, "%s could not be decoded", aviPath.c_str());
    EXPECT(seen == clip.frames && seen > 0, "%d of %ld frames decoded", seen, clip.frames);
    std::printf("%s: %d frames, %ldx%ld, %d bits\n", aviPath.c_str(), seen,
                static_cast<long>(clip.format.biWidth), static_cast<long>(clip.format.biHeight),
                clip.format.biBitCount);
    return HostResult("avi_decode");
}
