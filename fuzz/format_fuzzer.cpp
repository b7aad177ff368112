// Arbitrary header pairs through every format message.
//
// The input is an input header (40 bytes), an output header (40 bytes) and
// up to 1024 palette bytes for the input. Each header sits in a buffer of
// exactly the size its depth calls for, and every output the codec fills
// is sized by its own null-output answer and guarded. The answers must stay
// within the codes each message may return, and the codec must accept the
// formats it proposes itself.
#include <algorithm>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "format/dib.h"

namespace {

// A header followed by a palette when its depth has one, in a buffer of
// exactly that size.
std::vector<uint8_t> FormatBlock(const BITMAPINFOHEADER& header, const uint8_t* palette,
                                 size_t paletteSize)
{
    std::vector<uint8_t> block(FormatBytes(header.biBitCount), 0);
    std::memcpy(block.data(), &header, sizeof header);
    const size_t room = block.size() - sizeof header;
    std::memcpy(block.data() + sizeof header, palette, paletteSize < room ? paletteSize : room);
    return block;
}

auto* AsHeader(std::vector<uint8_t>& block) { return reinterpret_cast<BITMAPINFOHEADER*>(block.data()); }
auto* AsHeader(Guarded& buffer) { return reinterpret_cast<BITMAPINFOHEADER*>(buffer.data()); }

bool IsError(LRESULT result, std::initializer_list<int32_t> allowed)
{
    for (int32_t code : allowed)
        if (result == code)
            return false;
    return true;
}

void CompressMessages(DWORD_PTR id, std::vector<uint8_t>& input, std::vector<uint8_t>& output)
{
    const BITMAPINFOHEADER in = *AsHeader(input);
    const BITMAPINFOHEADER out = *AsHeader(output);

    FUZZ_CHECK(Send(id, ICM_COMPRESS_QUERY, AsHeader(input), 0) == ICERR_OK);
    const LRESULT query = Send(id, ICM_COMPRESS_QUERY, AsHeader(input), AsHeader(output));
    FUZZ_CHECK(!IsError(query, {ICERR_OK, ICERR_BADFORMAT}));
    if (query == ICERR_OK)
        FUZZ_CHECK(in.biWidth == out.biWidth && in.biHeight == out.biHeight &&
                   out.biCompression == kFourccMpng);

    const LRESULT needed = Send(id, ICM_COMPRESS_GET_FORMAT, AsHeader(input), 0);
    FUZZ_CHECK(needed == static_cast<LRESULT>(FormatBytes(in.biBitCount)));
    Guarded proposed(static_cast<size_t>(needed), 0x5A);
    const LRESULT format = Send(id, ICM_COMPRESS_GET_FORMAT, AsHeader(input), AsHeader(proposed));
    proposed.CheckGuards("ICM_COMPRESS_GET_FORMAT");
    FUZZ_CHECK(!IsError(format, {ICERR_OK, ICERR_BADFORMAT}));
    if (format == ICERR_BADFORMAT) {
        FUZZ_CHECK(proposed.AllEqual(0x5A));
    } else {
        const BITMAPINFOHEADER& p = *AsHeader(proposed);
        FUZZ_CHECK(p.biSize == 40 && p.biCompression == kFourccMpng);
        FUZZ_CHECK(p.biWidth == in.biWidth && p.biHeight == in.biHeight);
        FUZZ_CHECK(p.biSizeImage ==
                   static_cast<DWORD>(Send(id, ICM_COMPRESS_GET_SIZE, AsHeader(input))));
        if (in.biBitCount != 16)
            FUZZ_CHECK(Send(id, ICM_COMPRESS_QUERY, AsHeader(input), AsHeader(proposed)) == ICERR_OK);
    }

    // Twice the frame or room for its largest PNG, saturating, never wrapping.
    const auto size = static_cast<DWORD>(Send(id, ICM_COMPRESS_GET_SIZE, AsHeader(input), AsHeader(output)));
    FUZZ_CHECK(size >= std::min<uint64_t>(uint64_t{in.biSizeImage} * 2, 0xFFFFFFFF));
    FUZZ_CHECK(size >= 57);
}

void DecompressMessages(DWORD_PTR id, std::vector<uint8_t>& input, std::vector<uint8_t>& output)
{
    const BITMAPINFOHEADER in = *AsHeader(input);
    const bool mpng = in.biCompression == kFourccMpng;

    const LRESULT alone = Send(id, ICM_DECOMPRESS_QUERY, AsHeader(input), 0);
    FUZZ_CHECK(alone == (mpng ? ICERR_OK : ICERR_BADFORMAT));
    const LRESULT query = Send(id, ICM_DECOMPRESS_QUERY, AsHeader(input), AsHeader(output));
    FUZZ_CHECK(!IsError(query, {ICERR_OK, ICERR_BADFORMAT}));
    if (query == ICERR_OK)
        FUZZ_CHECK(mpng && in.biWidth == AsHeader(output)->biWidth &&
                   in.biHeight == AsHeader(output)->biHeight);

    const LRESULT needed = Send(id, ICM_DECOMPRESS_GET_FORMAT, AsHeader(input), 0);
    FUZZ_CHECK(needed == static_cast<LRESULT>(FormatBytes(in.biBitCount)));
    Guarded proposed(static_cast<size_t>(needed), 0x5A);
    FUZZ_CHECK(Send(id, ICM_DECOMPRESS_GET_FORMAT, AsHeader(input), AsHeader(proposed)) == ICERR_OK);
    proposed.CheckGuards("ICM_DECOMPRESS_GET_FORMAT");
    const BITMAPINFOHEADER& p = *AsHeader(proposed);
    FUZZ_CHECK(p.biSize == 40 && p.biCompression == BI_RGB && p.biPlanes == 1);
    FUZZ_CHECK(p.biWidth == in.biWidth && p.biHeight == in.biHeight && p.biBitCount == in.biBitCount);
    if (mpng)
        FUZZ_CHECK(Send(id, ICM_DECOMPRESS_QUERY, AsHeader(input), AsHeader(proposed)) == ICERR_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const DWORD_PTR id = FuzzCodec();
    FuzzBytes in(data, size);
    const auto inputHeader = in.Take<BITMAPINFOHEADER>();
    const auto outputHeader = in.Take<BITMAPINFOHEADER>();

    std::vector<uint8_t> input = FormatBlock(inputHeader, in.rest(), in.restSize());
    std::vector<uint8_t> output = FormatBlock(outputHeader, in.rest(), in.restSize());
    const std::vector<uint8_t> inputBefore = input;
    const std::vector<uint8_t> outputBefore = output;

    CompressMessages(id, input, output);
    DecompressMessages(id, input, output);

    // Format messages read their headers and never write them.
    FUZZ_CHECK(input == inputBefore);
    FUZZ_CHECK(output == outputBefore);
    return 0;
}
