// Compression format negotiation: which DIB inputs the codec compresses,
// the compressed format it proposes, and how large a frame can grow.
#pragma once

#include <cstdint>

#include "platform/platform.h"

int32_t OnCompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
int32_t OnCompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output);
DWORD OnCompressGetSize(const BITMAPINFOHEADER* input);
