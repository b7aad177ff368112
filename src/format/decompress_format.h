// Decompression format negotiation: which compressed frames the codec
// decodes, and into which DIB formats.
#pragma once

#include <cstdint>

#include "platform/platform.h"

int32_t OnDecompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
int32_t OnDecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output);
