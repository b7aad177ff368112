#include "avi_clip.h"

#include <cstring>

#include "check.h"

namespace {

const DWORD kMpng = mmioFOURCC('M', 'P', 'N', 'G');

// Releases an AVIFile interface when the scope ends.
template <typename T>
struct Held {
    T* object = nullptr;
    ~Held()
    {
        if (object != nullptr)
            object->Release();
    }
};

}  // namespace

bool WriteClip(const std::wstring& path, int width, int height, int bits, int frames)
{
    const DibFormat format = MakeFormat(width, height, bits);
    DeleteFileW(path.c_str());

    Held<IAVIFile> file;
    HRESULT hr = AVIFileOpenW(&file.object, path.c_str(), OF_CREATE | OF_WRITE, nullptr);
    EXPECT(hr == AVIERR_OK, "AVIFileOpen for writing: %08lx", static_cast<unsigned long>(hr));
    if (hr != AVIERR_OK)
        return false;

    AVISTREAMINFOW info = {};
    info.fccType = streamtypeVIDEO;
    // Editors name the compressor in the stream header themselves; Wine's
    // compressed stream leaves it as given.
    info.fccHandler = kMpng;
    info.dwScale = 1;
    info.dwRate = 10;
    info.dwSuggestedBufferSize = format.header()->biSizeImage;
    SetRect(&info.rcFrame, 0, 0, width, height);
    Held<IAVIStream> raw;
    hr = AVIFileCreateStreamW(file.object, &raw.object, &info);
    EXPECT(hr == AVIERR_OK, "AVIFileCreateStream: %08lx", static_cast<unsigned long>(hr));
    if (hr != AVIERR_OK)
        return false;

    AVICOMPRESSOPTIONS options = {};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = kMpng;
    options.dwKeyFrameEvery = 1;
    options.dwQuality = ICQUALITY_DEFAULT;
    options.dwFlags = AVICOMPRESSF_VALID | AVICOMPRESSF_KEYFRAMES;
    Held<IAVIStream> compressed;
    hr = AVIMakeCompressedStream(&compressed.object, raw.object, &options, nullptr);
    EXPECT(hr == AVIERR_OK, "AVIMakeCompressedStream: %08lx", static_cast<unsigned long>(hr));
    if (hr != AVIERR_OK)
        return false;

    hr = AVIStreamSetFormat(compressed.object, 0, const_cast<uint8_t*>(format.bytes.data()),
                            static_cast<LONG>(format.bytes.size()));
    EXPECT(hr == AVIERR_OK, "AVIStreamSetFormat: %08lx", static_cast<unsigned long>(hr));
    if (hr != AVIERR_OK)
        return false;

    for (int i = 0; i < frames; ++i) {
        std::vector<uint8_t> rows = MakeFrame(width, height, bits, i);
        hr = AVIStreamWrite(compressed.object, i, 1, rows.data(), static_cast<LONG>(rows.size()),
                            AVIIF_KEYFRAME, nullptr, nullptr);
        EXPECT(hr == AVIERR_OK, "AVIStreamWrite frame %d: %08lx", i,
               static_cast<unsigned long>(hr));
        if (hr != AVIERR_OK)
            return false;
    }
    return true;
}

bool ReadClip(const std::wstring& path, ClipInfo& clip, const FrameSink& sink)
{
    Held<IAVIFile> file;
    HRESULT hr = AVIFileOpenW(&file.object, path.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr);
    EXPECT(hr == AVIERR_OK, "AVIFileOpen for reading: %08lx", static_cast<unsigned long>(hr));
    if (hr != AVIERR_OK)
        return false;
    Held<IAVIStream> stream;
    hr = AVIFileGetStream(file.object, &stream.object, streamtypeVIDEO, 0);
    EXPECT(hr == AVIERR_OK, "AVIFileGetStream: %08lx", static_cast<unsigned long>(hr));
    if (hr != AVIERR_OK)
        return false;

    AVISTREAMINFOW info = {};
    AVIStreamInfoW(stream.object, &info, sizeof info);
    clip.streamHandler = info.fccHandler;
    clip.frames = AVIStreamLength(stream.object);

    LONG formatSize = 0;
    AVIStreamReadFormat(stream.object, 0, nullptr, &formatSize);
    EXPECT(formatSize >= static_cast<LONG>(sizeof(BITMAPINFOHEADER)), "stream format of %ld bytes",
           formatSize);
    if (formatSize < static_cast<LONG>(sizeof(BITMAPINFOHEADER)))
        return false;
    DibFormat compressed;
    compressed.bytes.assign(static_cast<size_t>(formatSize), 0);
    AVIStreamReadFormat(stream.object, 0, compressed.bytes.data(), &formatSize);
    clip.format = *compressed.header();

    HIC hic = ICLocate(ICTYPE_VIDEO, compressed.header()->biCompression, compressed.header(),
                       nullptr, ICMODE_DECOMPRESS);
    EXPECT(hic != nullptr, "no decompressor for the stream's format");
    if (hic == nullptr)
        return false;

    DibFormat plain;
    plain.bytes.assign(static_cast<size_t>(ICDecompressGetFormatSize(hic, compressed.header())), 0);
    bool ok = ICDecompressGetFormat(hic, compressed.header(), plain.header()) == ICERR_OK &&
              ICDecompressBegin(hic, compressed.header(), plain.header()) == ICERR_OK;
    EXPECT(ok, "decompression could not begin");

    std::vector<uint8_t> rows(plain.header()->biSizeImage);
    const LONG first = AVIStreamStart(stream.object);
    for (LONG i = 0; ok && i < clip.frames; ++i) {
        LONG bytes = 0;
        hr = AVIStreamRead(stream.object, first + i, 1, nullptr, 0, &bytes, nullptr);
        std::vector<uint8_t> frame(static_cast<size_t>(bytes > 0 ? bytes : 1));
        if (hr == AVIERR_OK)
            hr = AVIStreamRead(stream.object, first + i, 1, frame.data(), bytes, &bytes, nullptr);
        EXPECT(hr == AVIERR_OK, "AVIStreamRead frame %ld: %08lx", i,
               static_cast<unsigned long>(hr));
        if (hr != AVIERR_OK) {
            ok = false;
            break;
        }
        DibFormat frameHeader = compressed;
        frameHeader.header()->biSizeImage = static_cast<DWORD>(bytes);
        std::memset(rows.data(), 0, rows.size());
        const DWORD result =
            ICDecompress(hic, 0, frameHeader.header(), frame.data(), plain.header(), rows.data());
        EXPECT(result == static_cast<DWORD>(ICERR_OK), "ICDecompress frame %ld: %ld", i,
               static_cast<long>(result));
        if (result != static_cast<DWORD>(ICERR_OK)) {
            ok = false;
            break;
        }
        sink(static_cast<int>(i), *plain.header(), rows.data());
    }
    ICDecompressEnd(hic);
    ICClose(hic);
    return ok;
}
