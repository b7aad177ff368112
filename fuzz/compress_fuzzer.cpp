// Arbitrary headers and rows through ICM_COMPRESS.
//
// The input chooses the header (small or raw 32-bit sizes, any depth, a
// biSizeImage that matches the rows or not) and then the pixel bytes. The
// rows sit in a buffer of exactly biSizeImage bytes, the host's promise, and
// the output buffer is exactly what ICM_COMPRESS_GET_SIZE asked for, between
// guards. A frame that succeeds must be one PNG datastream that fits, and
// must decode back to the rows it came from.
#include "codec/pixel_format.h"
#include "format/dib.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint32_t kMaxRowBytes = 4u << 20;  // one frame's rows, at most
constexpr uint16_t kDepths[] = {8, 16, 24, 32, 0, 1, 4, 15};
constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kIend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
constexpr DWORD kUnwritten = 0xDEADBEEF;

struct Header {
    BITMAPINFOHEADER header;
    std::vector<uint8_t> rows;
};

Header ChooseHeader(FuzzBytes& in)
{
    const auto mode = in.Take<uint8_t>();
    int32_t width = 0;
    int32_t height = 0;
    if ((mode & 0x80) != 0) {
        width = in.Take<int32_t>();
        height = in.Take<int32_t>();
    } else {
        width = in.Take<int16_t>();
        height = in.Take<int16_t>();
    }
    const uint16_t depth = kDepths[mode & 7];
    // Mostly small frames: they run fast and reach every branch as well.
    uint32_t sizeImage = (mode & 0x10) != 0 ? in.Take<uint32_t>() % (kMaxRowBytes + 1) : in.Take<uint16_t>();
    if ((mode & 0x40) == 0) {
        // The size a well-behaved host states, when it is small enough.
        const int64_t exact = int64_t{DibRowBytes(depth, width)} * (height < 0 ? -int64_t{height} : height);
        if (exact >= 0 && exact <= kMaxRowBytes)
            sizeImage = static_cast<uint32_t>(exact);
    }

    Header chosen{DibHeader(width, height, depth, sizeImage), std::vector<uint8_t>(sizeImage)};
    if (depth == 8 && (mode & 0x20) != 0)
        chosen.header.biClrUsed = 256;
    FillRepeating(chosen.rows.data(), chosen.rows.size(), in.rest(), in.restSize());
    return chosen;
}

// Decodes the frame through the codec into rows of the bitmap's own depth
// and compares every pixel byte with the rows compression read.
void CheckRoundTrip(DWORD_PTR id, const BITMAPINFOHEADER& input, const std::vector<uint8_t>& rows,
                    const FormatBuffer& compressed, const uint8_t* frame)
{
    const auto bits = static_cast<uint16_t>(PixelFormatBits(BitmapPixelFormat(input.biBitCount)));
    const int32_t width = input.biWidth;
    const int32_t height = input.biHeight;
    const int32_t rowBytes = DibRowBytes(bits, width);
    const size_t pixelBytes = (static_cast<size_t>(width) * bits + 7) / 8;
    const size_t stride = static_cast<int32_t>(input.biSizeImage) / height;

    BITMAPINFOHEADER frameHeader = compressed.header;
    BITMAPINFOHEADER output = DibHeader(width, height, bits, 0);
    Guarded decoded(static_cast<size_t>(rowBytes) * height, 0x3C);
    ICDECOMPRESS decompress{};
    decompress.lpbiInput = &frameHeader;
    decompress.lpInput = const_cast<uint8_t*>(frame);
    decompress.lpbiOutput = &output;
    decompress.lpOutput = decoded.data();
    FUZZ_CHECK(Send(id, ICM_DECOMPRESS, &decompress) == ICERR_OK);
    decoded.CheckGuards("ICM_DECOMPRESS of a frame the codec made");
    for (int32_t r = 0; r < height; ++r)
        FUZZ_CHECK(std::memcmp(decoded.data() + static_cast<size_t>(r) * rowBytes,
                               rows.data() + r * stride, pixelBytes) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const DWORD_PTR id = FuzzCodec();
    FuzzBytes in(data, size);
    Header chosen = ChooseHeader(in);
    BITMAPINFOHEADER& input = chosen.header;
    const std::vector<uint8_t> rowsBefore = chosen.rows;

    FormatBuffer compressed{};
    if (Send(id, ICM_COMPRESS_GET_FORMAT, &input, &compressed) != ICERR_OK) {
        compressed.header = input;
        compressed.header.biCompression = kFourccMpng;
    }
    compressed.header.biSizeImage = kUnwritten;
    const auto capacity = static_cast<DWORD>(Send(id, ICM_COMPRESS_GET_SIZE, &input));
    Guarded output(capacity, 0x11);

    DWORD ckid = 0x1234;
    DWORD flags = 0x5678;
    ICCOMPRESS compress{};
    compress.lpbiInput = &input;
    compress.lpInput = chosen.rows.data();
    compress.lpbiOutput = &compressed.header;
    compress.lpOutput = output.data();
    compress.lpckid = &ckid;
    compress.lpdwFlags = &flags;
    const LRESULT result = Send(id, ICM_COMPRESS, &compress);

    output.CheckGuards("ICM_COMPRESS output");
    FUZZ_CHECK(chosen.rows == rowsBefore);
    FUZZ_CHECK(ckid == 0x1234 && flags == 0x5678);
    FUZZ_CHECK(result == ICERR_OK || result == ICERR_ERROR);
    if (result != ICERR_OK) {
        FUZZ_CHECK(compressed.header.biSizeImage == kUnwritten);
        return 0;
    }

    // One PNG datastream, no longer than the host's buffer, and nothing
    // written after it.
    const DWORD frameBytes = compressed.header.biSizeImage;
    FUZZ_CHECK(frameBytes <= capacity);
    FUZZ_CHECK(frameBytes >= sizeof kSignature + sizeof kIend);
    FUZZ_CHECK(std::memcmp(output.data(), kSignature, sizeof kSignature) == 0);
    FUZZ_CHECK(std::memcmp(output.data() + frameBytes - sizeof kIend, kIend, sizeof kIend) == 0);
    FUZZ_CHECK(BytesEqual(output.data() + frameBytes, capacity - frameBytes, 0x11));

    const std::vector<uint8_t> frame(output.data(), output.data() + frameBytes);
    CheckRoundTrip(id, input, chosen.rows, compressed, frame.data());
    return 0;
}
