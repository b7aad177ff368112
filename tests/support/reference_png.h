// An independent look at PNG bytes through libspng, for checking what the
// codec wrote without going through the codec's own reader.
#pragma once

#include <spng.h>

#include <cstdint>
#include <vector>

struct ReferencePng {
    bool ok = false;
    spng_ihdr ihdr{};
    size_t rowBytes = 0;
    std::vector<uint8_t> pixels;  // rows as stored in the file (SPNG_FMT_RAW: big-endian samples)
};

inline ReferencePng ReadReferencePng(const std::vector<uint8_t>& bytes, int format = SPNG_FMT_RAW)
{
    ReferencePng png;
    spng_ctx* ctx = spng_ctx_new(0);
    if (ctx == nullptr)
        return png;
    size_t size = 0;
    if (spng_set_png_buffer(ctx, bytes.data(), bytes.size()) == 0 &&
        spng_get_ihdr(ctx, &png.ihdr) == 0 && spng_decoded_image_size(ctx, format, &size) == 0) {
        png.pixels.resize(size);
        png.ok = spng_decode_image(ctx, png.pixels.data(), size, format, 0) == 0;
        png.rowBytes = png.ihdr.height != 0 ? size / png.ihdr.height : 0;
    }
    spng_ctx_free(ctx);
    return png;
}

// Writes a PNG with libspng's encoder: `rows` are packed as the colour type
// and depth say, 16-bit samples in host (little-endian) order.
inline std::vector<uint8_t> WriteReferencePng(uint32_t width, uint32_t height, uint8_t colorType,
                                              uint8_t bitDepth, const std::vector<uint8_t>& rows,
                                              const spng_plte* palette = nullptr,
                                              uint8_t interlace = SPNG_INTERLACE_NONE)
{
    std::vector<uint8_t> out;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (ctx == nullptr)
        return out;
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.color_type = colorType;
    ihdr.bit_depth = bitDepth;
    ihdr.interlace_method = interlace;
    spng_set_ihdr(ctx, &ihdr);
    if (palette != nullptr)
        spng_set_plte(ctx, const_cast<spng_plte*>(palette));
    if (spng_encode_image(ctx, rows.data(), rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0) {
        size_t size = 0;
        int error = 0;
        auto* data = static_cast<uint8_t*>(spng_get_png_buffer(ctx, &size, &error));
        if (data != nullptr) {
            out.assign(data, data + size);
            free(data);
        }
    }
    spng_ctx_free(ctx);
    return out;
}
