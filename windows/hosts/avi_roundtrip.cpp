// Writes a generated clip to an AVI file through AVIFile with the MPNG
// compressor, reads it back through AVIFile and ICDecompress, and compares
// every pixel. Also leaves the source rows beside the file, in memory order
// and without padding, for the ffmpeg checks on the Linux side.
//
// Usage: avi_roundtrip BITS WIDTH HEIGHT FRAMES OUT.avi SOURCE.raw
#include <cstdlib>
#include <string>

#include "avi_clip.h"
#include "check.h"

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: avi_roundtrip BITS WIDTH HEIGHT FRAMES OUT.avi SOURCE.raw\n");
        return 2;
    }
    const int bits = std::atoi(argv[1]);
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    const int frames = std::atoi(argv[4]);
    const std::string aviPath = argv[5];
    const std::string rawPath = argv[6];
    const std::wstring avi(aviPath.begin(), aviPath.end());

    AVIFileInit();
    const bool written = WriteClip(avi, width, height, bits, frames);
    EXPECT(written, "the clip could not be written");

    if (written) {
        ClipInfo clip;
        int seen = 0;
        const bool read = ReadClip(avi, clip, [&](int index, const BITMAPINFOHEADER& format,
                                                 const uint8_t* rows) {
            EXPECT(format.biBitCount == bits && format.biWidth == width &&
                       format.biHeight == height,
                   "frame %d decoded as %dx%d at %d bits", index, static_cast<int>(format.biWidth),
                   static_cast<int>(format.biHeight), format.biBitCount);
            const std::vector<uint8_t> expected = MakeFrame(width, height, bits, index);
            char what[32];
            std::snprintf(what, sizeof what, "frame %d", index);
            ++seen;
            // Wine's GDI+ decodes indexed PNGs to colours, not indices (see
            // vcm_roundtrip); ffmpeg checks those frames.
            if (bits == 8 && UnderWine() && BuiltOnGdiplus())
                return;
            EXPECT(SamePixels(expected.data(), rows, width, height, bits, what),
                   "%s differs after the AVI round trip", what);
        });
        EXPECT(read, "the clip could not be read back");
        EXPECT(clip.frames == frames, "the stream holds %ld frames", clip.frames);
        EXPECT(seen == frames, "%d frames decoded", seen);
        EXPECT(clip.streamHandler == mmioFOURCC('M', 'P', 'N', 'G'),
               "stream handler %08lx", clip.streamHandler);
        EXPECT(clip.format.biCompression == mmioFOURCC('M', 'P', 'N', 'G') &&
                   clip.format.biBitCount == bits,
               "stream format %08lx at %d bits", clip.format.biCompression,
               clip.format.biBitCount);
    }
    AVIFileExit();

    std::remove(rawPath.c_str());
    for (int i = 0; i < frames; ++i) {
        const std::vector<uint8_t> rows = MakeFrame(width, height, bits, i);
        EXPECT(AppendRows(rawPath, rows.data(), width, height, bits), "cannot write %s",
               rawPath.c_str());
    }
    return HostResult("avi_roundtrip");
}
