// The one reference decoder of the tests and fuzzers: libspng alone, with
// none of the engine's code, to judge what the engine wrote and read.
#pragma once

#include <spng.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "platform/png/png.h"

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

// Decodes with libspng into the imaging layouts the engine's fast reader
// produces (8-bit gray and palette as indices, 16-bit gray little-endian,
// RGB as BGR, RGBA as BGRA), rows tightly packed. Returns false where
// libspng refuses the data (CRC errors included), the image is of another
// kind (interlaced, tRNS, other depths) or its pixels pass `maxBytes`.
inline bool ReferenceDecode(const uint8_t* data, size_t size, DecodedPng& out,
                            size_t maxBytes = size_t{1} << 28)
{
    std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), spng_ctx_free);
    spng_ctx* c = ctx.get();
    if (!c || spng_set_crc_action(c, SPNG_CRC_ERROR, SPNG_CRC_ERROR) != 0 ||
        spng_set_png_buffer(c, data, size) != 0)
        return false;
    spng_ihdr ihdr{};
    if (spng_get_ihdr(c, &ihdr) != 0 || ihdr.interlace_method != 0)
        return false;
    spng_trns trns{};
    if (spng_get_trns(c, &trns) == 0)
        return false;
    PngPixels pixels;
    if ((ihdr.color_type == 0 || ihdr.color_type == 3) && ihdr.bit_depth == 8)
        pixels = PngPixels::Index8;
    else if (ihdr.color_type == 0 && ihdr.bit_depth == 16)
        pixels = PngPixels::Gray16;
    else if (ihdr.color_type == 2 && ihdr.bit_depth == 8)
        pixels = PngPixels::Bgr24;
    else if (ihdr.color_type == 6 && ihdr.bit_depth == 8)
        pixels = PngPixels::Bgra32;
    else
        return false;
    size_t bytes = 0;
    if (spng_decoded_image_size(c, SPNG_FMT_PNG, &bytes) != 0 || bytes > maxBytes)
        return false;
    out.rows.assign(bytes, 0);
    if (spng_decode_image(c, out.rows.data(), bytes, SPNG_FMT_PNG, 0) != 0)
        return false;
    // FMT_PNG gives 16-bit samples in host order already; swap colour.
    const size_t bpp = PngBytesPerPixel(pixels);
    if (pixels == PngPixels::Bgr24 || pixels == PngPixels::Bgra32) {
        for (size_t i = 0; i + bpp <= bytes; i += bpp)
            std::swap(out.rows[i], out.rows[i + 2]);
    }
    out.width = ihdr.width;
    out.height = ihdr.height;
    out.pixels = pixels;
    out.stride = size_t{ihdr.width} * bpp;
    return true;
}
