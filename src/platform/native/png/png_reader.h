// The PNG reader: libspng with limits, mapped to the imaging library's
// pixel layouts.
//
// Mapping, by colour type and transparency:
//   gray 1/2/4/8-bit            -> Index8, levels scaled to 0..255 (a 1-bit
//                                  1 becomes 255), so that with the gray
//                                  ramp palette index i is gray level i
//   gray 16-bit                 -> Gray16, little-endian
//   palette 1/2/4/8-bit         -> Index8, the indices as stored (sub-byte
//                                  indices unpacked, one per byte); the
//                                  palette's colours are dropped
//   RGB 8/16-bit                -> Bgr24 (16-bit samples keep their high byte)
//   gray+alpha, RGBA (8/16-bit) -> Bgra32 (16-bit samples keep their high byte)
//   any of the above with tRNS  -> Bgra32, transparency applied
// Interlaced images are de-interlaced. No gamma or colour-profile
// correction is applied.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/native/png/png_codec.h"

// Decodes one PNG datastream into `out`. Returns false, leaving `out`
// unspecified, for anything DecodePng documents as a failure. The layouts
// png_direct_reader.h handles go that way; the rest through libspng.
bool ReadPng(const uint8_t* data, size_t size, DecodedPng& out);

// The same through libspng alone, for every layout. Tests compare the two.
bool ReadPngWithSpng(const uint8_t* data, size_t size, DecodedPng& out);

// Widest image accepted: four bytes per pixel, rounded up to a multiple of
// four, must stay addressable by a signed 32-bit stride.
constexpr uint32_t kPngReadMaxWidth = (0x7FFFFFFFu - 3) / 4;
