// Arbitrary bytes as one compressed frame through ICM_DECOMPRESS.
//
// The first three bytes choose the output the host negotiated: its depth
// (now and then one no negotiation proposes), width, height and row order,
// or the size the frame's own IHDR claims. The fourth byte asks, in half
// the inputs, for the chunk CRCs to be repaired (and now and then the
// Adler-32), so that mutations get past the checks to the inflater, the
// band map and the row filters.
// The rest is the frame, in a buffer of exactly its size. Whatever the
// bytes, the codec must write only inside the output rows, leave them
// untouched when it reports an error, and never change the frame.
#include "fuzz/fuzz_support.h"
#include "format/dib.h"

namespace {

constexpr uint16_t kDepths[] = {8, 16, 24, 32};
// Depths no negotiation proposes, which a host may still put in the output
// header: the rows are then as long as DibRowBytes says, or nothing.
constexpr uint16_t kOddDepths[] = {0, 1, 4, 15, 33, 48, 64, 0xFFFF};
constexpr uint32_t kMaxSide = 2048;
constexpr uint64_t kMaxOutputBytes = 64u << 20;

uint32_t BigEndian32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The size an IHDR at the usual place claims, when it is small enough to
// allocate an output for.
bool IhdrSize(const uint8_t* frame, size_t size, uint32_t* width, uint32_t* height)
{
    if (size < 24 || std::memcmp(frame + 12, "IHDR", 4) != 0)
        return false;
    const uint32_t w = BigEndian32(frame + 16);
    const uint32_t h = BigEndian32(frame + 20);
    if (w < 1 || w > kMaxSide || h < 1 || h > kMaxSide)
        return false;
    *width = w;
    *height = h;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const DWORD_PTR id = FuzzCodec();
    FuzzBytes in(data, size);
    const auto choice = in.Take<uint8_t>();
    uint32_t width = in.Take<uint8_t>();
    uint32_t height = in.Take<uint8_t>();
    const auto repair = in.Take<uint8_t>();
    std::vector<uint8_t> frame(in.rest(), in.rest() + in.restSize());
    if ((repair & 1) != 0)
        RepairChecks(frame, (repair & 6) == 6, 16u << 20);
    const std::vector<uint8_t> original = frame;

    const uint16_t depth = kDepths[choice & 3];
    uint16_t outputDepth = depth;  // mostly the depth negotiation proposes
    if ((choice & 0x40) != 0)
        outputDepth = (choice & 0x80) != 0 ? kOddDepths[(choice >> 4) & 7] : kDepths[(choice >> 4) & 3];
    if ((choice & 4) != 0)
        IhdrSize(frame.data(), frame.size(), &width, &height);
    const auto signedHeight = static_cast<int32_t>(height) * ((choice & 8) != 0 ? -1 : 1);

    BITMAPINFOHEADER compressed = DibHeader(static_cast<int32_t>(width), signedHeight, depth,
                                            static_cast<uint32_t>(frame.size()));
    compressed.biCompression = kFourccMpng;
    FormatBuffer output{};
    FUZZ_CHECK(Send(id, ICM_DECOMPRESS_GET_FORMAT, &compressed, &output) == ICERR_OK);
    FUZZ_CHECK(Send(id, ICM_DECOMPRESS_QUERY, &compressed, &output) == ICERR_OK);
    output.header.biBitCount = outputDepth;

    int32_t rowBytes = DibRowBytes(outputDepth, static_cast<int32_t>(width));
    if (rowBytes > 0 && static_cast<uint64_t>(rowBytes) * height > kMaxOutputBytes) {
        output.header.biBitCount = outputDepth = 8;
        rowBytes = DibRowBytes(8, static_cast<int32_t>(width));
    }
    Guarded rows(rowBytes > 0 ? static_cast<size_t>(rowBytes) * height : 0, 0x3C);

    ICDECOMPRESS decompress{};
    decompress.lpbiInput = &compressed;
    decompress.lpInput = const_cast<uint8_t*>(frame.data());
    decompress.lpbiOutput = &output.header;
    decompress.lpOutput = rows.data();
    const LRESULT result = Send(id, ICM_DECOMPRESS, &decompress);

    rows.CheckGuards("ICM_DECOMPRESS output");
    FUZZ_CHECK(result == ICERR_OK || result == ICERR_ERROR);
    if (result == ICERR_ERROR || frame.empty())
        FUZZ_CHECK(rows.AllEqual(0x3C));
    FUZZ_CHECK(frame == original);
    return 0;
}
