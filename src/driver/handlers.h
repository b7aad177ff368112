// The driver's message handlers: one function per message that DriverProc
// does not answer with a fixed value. Each takes what its message carries
// and returns what DriverProc passes back to the host.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct CodecInstance;

// Identity (driver/identity.cpp).
LRESULT OnGetInfo(ICINFO* info, LPARAM size);
int32_t OnAbout(HWND window);

// Instances (driver/instance.cpp). OpenInstance returns null when refused.
CodecInstance* OpenInstance(ICOPEN* open);
void CloseInstance(CodecInstance* instance);

// Compression format negotiation (format/compress_format.cpp).
int32_t OnCompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
int32_t OnCompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output);
DWORD OnCompressGetSize(const BITMAPINFOHEADER* input);

// Decompression format negotiation (format/decompress_format.cpp).
int32_t OnDecompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
int32_t OnDecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output);

// Frames (codec/compress.cpp, codec/decompress.cpp).
int32_t OnCompress(const ICCOMPRESS* compress, CodecInstance* instance);
int32_t OnDecompress(const ICDECOMPRESS* decompress);
