// Compresses and decompresses frames through the video compression manager
// exactly as a capture or editing program does (ICOpen, ICCompress...,
// ICDecompress...), and checks that every pixel comes back unchanged.
//
// Usage: vcm_roundtrip
#include <windows.h>
#include <vfw.h>

#include <cstring>
#include <vector>

#include "check.h"
#include "frames.h"

namespace {

const DWORD kMpng = mmioFOURCC('M', 'P', 'N', 'G');
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const uint8_t kIendChunk[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
constexpr size_t kGuardBytes = 256;
constexpr uint8_t kGuard = 0xA5;

// A buffer of `size` usable bytes followed by guard bytes that must survive.
struct GuardedBuffer {
    std::vector<uint8_t> bytes;
    size_t size;

    GuardedBuffer(size_t usable, uint8_t fill) : bytes(usable + kGuardBytes, kGuard), size(usable)
    {
        std::memset(bytes.data(), fill, usable);
    }
    uint8_t* data() { return bytes.data(); }
    bool GuardIntact() const
    {
        for (size_t i = size; i < bytes.size(); ++i)
            if (bytes[i] != kGuard)
                return false;
        return true;
    }
};

uint32_t BigEndian32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// One PNG datastream, nothing before or after it, of the frame's size.
void ExpectPngFrame(const uint8_t* bytes, DWORD size, int width, int height, const char* what)
{
    EXPECT(size >= 8 + 25 + 12, "%s: %lu bytes cannot hold a PNG", what, size);
    if (size < 8 + 25 + 12)
        return;
    EXPECT(std::memcmp(bytes, kPngSignature, 8) == 0, "%s: no PNG signature", what);
    EXPECT(std::memcmp(bytes + 12, "IHDR", 4) == 0, "%s: first chunk is not IHDR", what);
    EXPECT(BigEndian32(bytes + 16) == static_cast<uint32_t>(width), "%s: PNG width %u", what,
           BigEndian32(bytes + 16));
    EXPECT(BigEndian32(bytes + 20) == static_cast<uint32_t>(height), "%s: PNG height %u", what,
           BigEndian32(bytes + 20));
    EXPECT(std::memcmp(bytes + size - 12, kIendChunk, 12) == 0,
           "%s: the frame does not end with its own IEND chunk", what);
}

struct CompressedFrame {
    std::vector<uint8_t> bytes;
};

// The full compression sequence; returns the stream format in `format`.
std::vector<CompressedFrame> CompressClip(const DibFormat& input, int frames, DibFormat& format)
{
    const BITMAPINFOHEADER& in = *input.header();
    const int bits = in.biBitCount;
    std::vector<CompressedFrame> out;

    HIC hic = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_COMPRESS);
    EXPECT(hic != nullptr, "ICOpen for compression failed (%d bits)", bits);
    if (hic == nullptr)
        return out;

    auto* inHeader = const_cast<BITMAPINFOHEADER*>(&in);
    EXPECT(ICCompressQuery(hic, inHeader, nullptr) == ICERR_OK, "%d bits: query without output",
           bits);
    const LRESULT formatSize = ICCompressGetFormatSize(hic, inHeader);
    EXPECT(formatSize == (bits == 8 ? 1064 : 40), "%d bits: format size %ld", bits,
           static_cast<long>(formatSize));
    format.bytes.assign(formatSize > 0 ? static_cast<size_t>(formatSize) : 40, 0xCD);
    EXPECT(ICCompressGetFormat(hic, inHeader, format.header()) == ICERR_OK,
           "%d bits: ICCompressGetFormat", bits);
    const BITMAPINFOHEADER& fmt = *format.header();
    EXPECT(fmt.biSize == 40 && fmt.biCompression == kMpng && fmt.biWidth == in.biWidth &&
               fmt.biHeight == in.biHeight && fmt.biBitCount == in.biBitCount &&
               fmt.biSizeImage >= 2 * in.biSizeImage,
           "%d bits: proposed format", bits);
    if (bits == 8) {
        const auto* palette = reinterpret_cast<const RGBQUAD*>(&fmt + 1);
        EXPECT(palette[200].rgbBlue == 200 && palette[200].rgbGreen == 200 &&
                   palette[200].rgbRed == 200 && palette[200].rgbReserved == 0,
               "8 bits: the proposed format lacks the gray ramp");
    }
    EXPECT(ICCompressQuery(hic, inHeader, format.header()) == ICERR_OK,
           "%d bits: query with the proposed output", bits);
    const DWORD maxSize = static_cast<DWORD>(ICCompressGetSize(hic, inHeader, format.header()));
    // Twice the frame, or the largest PNG the writer can make of a frame
    // that small, whichever is more.
    EXPECT(maxSize >= 2 * in.biSizeImage, "%d bits: ICCompressGetSize %lu", bits, maxSize);
    EXPECT(ICCompressBegin(hic, inHeader, format.header()) == ICERR_OK, "%d bits: begin", bits);

    for (int i = 0; i < frames; ++i) {
        std::vector<uint8_t> pixels = MakeFrame(in.biWidth, in.biHeight, bits, i);
        const std::vector<uint8_t> before = pixels;
        DibFormat frameFormat = format;
        GuardedBuffer buffer(maxSize, 0);
        DWORD ckid = 0x11223344;
        DWORD flags = 0x55667788;
        const DWORD result = ICCompress(hic, ICCOMPRESS_KEYFRAME, frameFormat.header(),
                                        buffer.data(), inHeader, pixels.data(), &ckid, &flags, i,
                                        0, 10000, nullptr, nullptr);
        EXPECT(result == static_cast<DWORD>(ICERR_OK), "%d bits, frame %d: ICCompress %ld", bits,
               i, static_cast<long>(result));
        EXPECT(buffer.GuardIntact(), "%d bits, frame %d: wrote past the GetSize buffer", bits, i);
        EXPECT(pixels == before, "%d bits, frame %d: input rows were changed", bits, i);
        EXPECT(ckid == 0x11223344 && flags == 0x55667788,
               "%d bits, frame %d: chunk id or flags were written", bits, i);
        const DWORD size = frameFormat.header()->biSizeImage;
        EXPECT(size <= maxSize, "%d bits, frame %d: %lu bytes exceed GetSize", bits, i, size);
        if (result != static_cast<DWORD>(ICERR_OK) || size > maxSize)
            continue;
        char what[64];
        std::snprintf(what, sizeof what, "%d bits, frame %d", bits, i);
        ExpectPngFrame(buffer.data(), size, in.biWidth, in.biHeight, what);
        out.push_back({std::vector<uint8_t>(buffer.data(), buffer.data() + size)});
    }
    // Odd frames are flat: each is shorter than the noisy frame before it,
    // so the exact-size and IEND checks above cover stale scratch bytes.
    if (out.size() >= 2)
        EXPECT(out[1].bytes.size() < out[0].bytes.size(),
               "%d bits: the flat frame should encode shorter", bits);

    EXPECT(ICCompressEnd(hic) == ICERR_OK, "%d bits: end", bits);
    EXPECT(ICClose(hic) == ICERR_OK, "%d bits: close", bits);
    return out;
}

// The full decompression sequence over what CompressClip produced.
void DecompressClip(const DibFormat& input, const DibFormat& format,
                    const std::vector<CompressedFrame>& frames)
{
    const BITMAPINFOHEADER& in = *input.header();
    const int bits = in.biBitCount;
    HIC hic = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_DECOMPRESS);
    EXPECT(hic != nullptr, "ICOpen for decompression failed (%d bits)", bits);
    if (hic == nullptr)
        return;

    DibFormat compressed = format;
    EXPECT(ICDecompressQuery(hic, compressed.header(), nullptr) == ICERR_OK,
           "%d bits: decompress query without output", bits);
    const LRESULT formatSize = ICDecompressGetFormatSize(hic, compressed.header());
    EXPECT(formatSize == (bits == 8 ? 1064 : 40), "%d bits: decompressed format size %ld", bits,
           static_cast<long>(formatSize));
    DibFormat plain;
    plain.bytes.assign(formatSize > 0 ? static_cast<size_t>(formatSize) : 40, 0xCD);
    EXPECT(ICDecompressGetFormat(hic, compressed.header(), plain.header()) == ICERR_OK,
           "%d bits: ICDecompressGetFormat", bits);
    const BITMAPINFOHEADER& out = *plain.header();
    EXPECT(out.biSize == 40 && out.biCompression == BI_RGB && out.biBitCount == bits &&
               out.biWidth == in.biWidth && out.biHeight == in.biHeight &&
               out.biSizeImage == in.biSizeImage && out.biPlanes == 1,
           "%d bits: proposed decompressed format", bits);
    EXPECT(ICDecompressQuery(hic, compressed.header(), plain.header()) == ICERR_OK,
           "%d bits: decompress query with output", bits);
    EXPECT(ICDecompressBegin(hic, compressed.header(), plain.header()) == ICERR_OK,
           "%d bits: decompress begin", bits);

    // 8 bits through the system's GDI+ under Wine: it gives a new indexed
    // bitmap a default palette with transparent entries and decodes such
    // PNGs to 32-bit ARGB, so the rows hold colours, not indices. Our own
    // engine keeps the indices; only a DLL built on GDI+ skips the check.
    for (size_t i = 0; i < frames.size(); ++i) {
        DibFormat frameHeader = compressed;
        frameHeader.header()->biSizeImage = static_cast<DWORD>(frames[i].bytes.size());
        GuardedBuffer rows(out.biSizeImage, 0xEE);
        const DWORD result =
            ICDecompress(hic, 0, frameHeader.header(), const_cast<uint8_t*>(frames[i].bytes.data()),
                         plain.header(), rows.data());
        EXPECT(result == static_cast<DWORD>(ICERR_OK), "%d bits, frame %zu: ICDecompress %ld",
               bits, i, static_cast<long>(result));
        EXPECT(rows.GuardIntact(), "%d bits, frame %zu: wrote past the output rows", bits, i);
        const std::vector<uint8_t> expected = MakeFrame(in.biWidth, in.biHeight, bits,
                                                        static_cast<int>(i));
        char what[64];
        std::snprintf(what, sizeof what, "%d bits, frame %zu", bits, i);
        if (bits == 8 && UnderWine() && BuiltOnGdiplus()) {
            std::printf("8 bits, frame %zu: pixel comparison skipped under Wine\n", i);
            continue;
        }
        EXPECT(SamePixels(expected.data(), rows.data(), in.biWidth, in.biHeight, bits, what),
               "%s: pixels differ after the round trip", what);
    }

    // A frame whose IHDR CRC is damaged is refused, its rows untouched.
    // (Wine's GDI+ does not check that CRC; our engine checks every one.)
    if (!frames.empty() && frames[0].bytes.size() > 33 && !BuiltOnGdiplus()) {
        std::vector<uint8_t> damaged = frames[0].bytes;
        damaged[29] ^= 0x01;  // the first byte of IHDR's CRC
        DibFormat frameHeader = compressed;
        frameHeader.header()->biSizeImage = static_cast<DWORD>(damaged.size());
        GuardedBuffer rows(out.biSizeImage, 0xEE);
        const auto result = static_cast<LONG>(ICDecompress(
            hic, 0, frameHeader.header(), damaged.data(), plain.header(), rows.data()));
        bool untouched = rows.GuardIntact();
        for (size_t j = 0; j < rows.size; ++j)
            untouched = untouched && rows.bytes[j] == 0xEE;
        EXPECT(result == ICERR_ERROR && untouched,
               "%d bits: a frame with a damaged CRC gave %ld or changed the output", bits,
               static_cast<long>(result));
    }

    // Bytes no decoder accepts, and an empty frame: the rows stay untouched.
    std::vector<uint8_t> junk(300);
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<uint8_t>(i * 37 + 11);
    std::memcpy(junk.data(), kPngSignature, 8);
    for (DWORD size : {DWORD{300}, DWORD{0}}) {
        DibFormat frameHeader = compressed;
        frameHeader.header()->biSizeImage = size;
        GuardedBuffer rows(out.biSizeImage, 0xEE);
        ICDecompress(hic, 0, frameHeader.header(), junk.data(), plain.header(), rows.data());
        bool untouched = rows.GuardIntact();
        for (size_t j = 0; j < rows.size; ++j)
            untouched = untouched && rows.bytes[j] == 0xEE;
        EXPECT(untouched, "%d bits: a %lu-byte undecodable frame changed the output", bits, size);
    }

    EXPECT(ICDecompressEnd(hic) == ICERR_OK, "%d bits: decompress end", bits);
    EXPECT(ICClose(hic) == ICERR_OK, "%d bits: decompress close", bits);
}

void RoundTrip(int width, int height, int bits)
{
    const DibFormat input = MakeFormat(width, height, bits);
    DibFormat format;
    const std::vector<CompressedFrame> frames = CompressClip(input, 4, format);
    EXPECT(frames.size() == 4, "%d bits: %zu of 4 frames compressed", bits, frames.size());
    if (!frames.empty())
        DecompressClip(input, format, frames);
}

// A frame large enough to be coded in bands on the runtime's worker threads,
// with screen-like content (flat areas, repeated glyphs) that the writer
// hands to libdeflate. The workers end at the last close; state they kept
// must be released safely then (a crash fails the test under CTest).
void ScreenFrameInBands()
{
    const DibFormat input = MakeFormat(1280, 720, 24);
    auto* inHeader = const_cast<BITMAPINFOHEADER*>(input.header());
    std::vector<uint8_t> pixels(inHeader->biSizeImage);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x) {
            const bool ink = (y / 16) % 3 != 0 && ((x % 9) * (y % 14)) % 5 == 1;
            for (int c = 0; c < 3; ++c)
                pixels[size_t(y) * 3840 + size_t(x) * 3 + size_t(c)] =
                    ink ? uint8_t(20) : uint8_t(200 + 20 * c - (x / 320) * 30);
        }
    HIC hic = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_COMPRESS);
    EXPECT(hic != nullptr, "ICOpen for the screen frame");
    if (hic == nullptr)
        return;
    DibFormat format;
    format.bytes.assign(40, 0);
    ICCompressGetFormat(hic, inHeader, format.header());
    GuardedBuffer buffer(static_cast<size_t>(ICCompressGetSize(hic, inHeader, format.header())), 0);
    DWORD flags = 0;
    const auto result = static_cast<LONG>(ICCompress(hic, 0, format.header(), buffer.data(),
                                                     inHeader, pixels.data(), nullptr, &flags,
                                                     0, 0, 0, nullptr, nullptr));
    GuardedBuffer rows(inHeader->biSizeImage, 0xEE);
    const auto decoded = static_cast<LONG>(
        ICDecompress(hic, 0, format.header(), buffer.data(), inHeader, rows.data()));
    EXPECT(result == ICERR_OK && decoded == ICERR_OK && buffer.GuardIntact() && rows.GuardIntact(),
           "screen frame: ICCompress %ld, ICDecompress %ld", static_cast<long>(result),
           static_cast<long>(decoded));
    EXPECT(SamePixels(pixels.data(), rows.data(), 1280, 720, 24, "screen frame"),
           "screen frame: pixels differ after the round trip");
    ICClose(hic);
}

// Two instances at once: closing one must leave the other's imaging
// runtime running.
void OverlappingInstances()
{
    const DibFormat input = MakeFormat(16, 8, 24);
    auto* inHeader = const_cast<BITMAPINFOHEADER*>(input.header());
    HIC first = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_COMPRESS);
    HIC second = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_COMPRESS);
    EXPECT(first != nullptr && second != nullptr, "two instances could not be opened");
    if (first == nullptr || second == nullptr)
        return;
    DibFormat format;
    format.bytes.assign(40, 0);
    ICCompressGetFormat(first, inHeader, format.header());
    EXPECT(ICClose(first) == ICERR_OK, "closing the first instance");

    std::vector<uint8_t> pixels = MakeFrame(16, 8, 24, 0);
    GuardedBuffer buffer(static_cast<size_t>(ICCompressGetSize(second, inHeader, format.header())), 0);
    DWORD flags = 0;
    const DWORD result = ICCompress(second, 0, format.header(), buffer.data(), inHeader,
                                    pixels.data(), nullptr, &flags, 0, 0, 0, nullptr, nullptr);
    EXPECT(result == static_cast<DWORD>(ICERR_OK),
           "the second instance stopped working after the first closed (%ld)",
           static_cast<long>(result));
    EXPECT(ICClose(second) == ICERR_OK, "closing the second instance");
}

// 16-bit gray: the codec proposes a format but refuses the pair in
// ICCompressQuery. Hosts that compress anyway get a frame from our engine,
// and it decodes back to the same samples. The system's GDI+ differs: real
// Windows refuses to encode such bitmaps, Wine's writes them as 8-bit RGBA;
// a GDI+ build is only held to a clean refusal or a well-formed PNG.
void SixteenBitGray()
{
    const DibFormat input = MakeFormat(20, 6, 16);
    auto* inHeader = const_cast<BITMAPINFOHEADER*>(input.header());
    HIC hic = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_COMPRESS);
    EXPECT(hic != nullptr, "ICOpen for 16 bits");
    if (hic == nullptr)
        return;
    DibFormat format;
    format.bytes.assign(40, 0);
    EXPECT(ICCompressGetFormat(hic, inHeader, format.header()) == ICERR_OK,
           "16 bits: a format is proposed");
    EXPECT(ICCompressQuery(hic, inHeader, format.header()) == ICERR_BADFORMAT,
           "16 bits: the query with an output must refuse");

    std::vector<uint8_t> pixels = MakeFrame(20, 6, 16, 0);
    GuardedBuffer buffer(static_cast<size_t>(ICCompressGetSize(hic, inHeader, format.header())), 0);
    format.header()->biSizeImage = 0xDEADBEEF;
    DWORD flags = 0;
    const auto result = static_cast<LRESULT>(static_cast<LONG>(
        ICCompress(hic, 0, format.header(), buffer.data(), inHeader, pixels.data(), nullptr,
                   &flags, 0, 0, 0, nullptr, nullptr)));
    EXPECT(buffer.GuardIntact(), "16 bits: wrote past the buffer");
    if (!BuiltOnGdiplus()) {
        EXPECT(result == ICERR_OK, "16 bits: ICCompress returned %ld", static_cast<long>(result));
        if (result == ICERR_OK) {
            ExpectPngFrame(buffer.data(), format.header()->biSizeImage, 20, 6, "16 bits");
            HIC decoder = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_DECOMPRESS);
            GuardedBuffer rows(inHeader->biSizeImage, 0xEE);
            const auto decoded = static_cast<LONG>(ICDecompress(
                decoder, 0, format.header(), buffer.data(), inHeader, rows.data()));
            EXPECT(decoded == ICERR_OK && rows.GuardIntact(), "16 bits: ICDecompress %ld",
                   static_cast<long>(decoded));
            EXPECT(SamePixels(pixels.data(), rows.data(), 20, 6, 16, "16 bits"),
                   "16 bits: samples differ after the round trip");
            ICClose(decoder);
        }
    } else if (result == ICERR_OK) {
        std::printf("16-bit gray: this GDI+ encodes it\n");
        ExpectPngFrame(buffer.data(), format.header()->biSizeImage, 20, 6, "16 bits");
    } else {
        std::printf("16-bit gray: this GDI+ does not encode it\n");
        EXPECT(result == ICERR_ERROR, "16 bits: a failed frame returns %ld",
               static_cast<long>(result));
        EXPECT(format.header()->biSizeImage == 0xDEADBEEF,
               "16 bits: a failed frame wrote biSizeImage");
    }
    ICClose(hic);
}

// Frames the codec cannot read safely are refused with ICERR_ERROR on the
// real imaging library too, without writing a byte of output: a top-down
// frame, and frames whose biSizeImage gives no usable row distance.
void RefusedFrames()
{
    HIC hic = ICOpen(ICTYPE_VIDEO, kMpng, ICMODE_COMPRESS);
    EXPECT(hic != nullptr, "ICOpen for refused frames");
    if (hic == nullptr)
        return;
    struct Case {
        const char* name;
        LONG height;
        DWORD sizeImage;
    };
    const DibFormat good = MakeFormat(16, 8, 24);
    const DWORD rows = good.header()->biSizeImage;
    for (const Case& c : {Case{"top-down", -8, rows}, Case{"biSizeImage 0", 8, 0},
                          Case{"biSizeImage below one row per line", 8, rows / 2}}) {
        DibFormat input = good;
        input.header()->biHeight = c.height;
        input.header()->biSizeImage = c.sizeImage;
        DibFormat format;
        format.bytes.assign(40, 0);
        ICCompressGetFormat(hic, good.header(), format.header());
        format.header()->biSizeImage = 0xDEADBEEF;
        std::vector<uint8_t> pixels = MakeFrame(16, 8, 24, 0);
        GuardedBuffer buffer(2 * rows, 0x5A);
        DWORD flags = 0;
        const auto result = static_cast<LONG>(ICCompress(hic, 0, format.header(), buffer.data(),
                                                         input.header(), pixels.data(), nullptr,
                                                         &flags, 0, 0, 0, nullptr, nullptr));
        EXPECT(result == ICERR_ERROR, "%s: ICCompress returned %ld", c.name,
               static_cast<long>(result));
        bool untouched = buffer.GuardIntact();
        for (size_t i = 0; i < buffer.size; ++i)
            untouched = untouched && buffer.bytes[i] == 0x5A;
        EXPECT(untouched, "%s: the output buffer was written", c.name);
        EXPECT(format.header()->biSizeImage == 0xDEADBEEF, "%s: biSizeImage was written",
               c.name);
    }
    ICClose(hic);
}

}  // namespace

int main()
{
    // Odd widths give padded rows at every depth; 8-bit rows of 37 bytes
    // pad to 40, 24-bit rows of 111 bytes to 112.
    for (int bits : {8, 24, 32}) {
        RoundTrip(37, 23, bits);
        RoundTrip(160, 90, bits);
    }
    ScreenFrameInBands();
    OverlappingInstances();
    RefusedFrames();
    SixteenBitGray();
    return HostResult("vcm_roundtrip");
}
