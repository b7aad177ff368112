// Writing and reading AVI files through AVIFile, the way editing programs
// do, with the codec doing the compression and decompression.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <functional>
#include <string>
#include <vector>

#include "frames.h"

// Writes `frames` frames of MakeFrame(width, height, bits, i) to `path` as
// an MPNG video stream, compressed on the way by AVIMakeCompressedStream.
bool WriteClip(const std::wstring& path, int width, int height, int bits, int frames);

// One decoded frame: its index, its uncompressed format and its rows.
using FrameSink = std::function<void(int index, const BITMAPINFOHEADER& format,
                                     const uint8_t* rows)>;

// What ReadClip found in the file's first video stream.
struct ClipInfo {
    DWORD streamHandler = 0;  // fccHandler of the stream header
    BITMAPINFOHEADER format = {};  // the stream's compressed format
    LONG frames = 0;
};

// Reads the first video stream of `path` with AVIFile and decompresses each
// frame with ICDecompress on a codec the VCM locates for its format;
// `sink` sees every frame in order. Returns false (after reporting) when
// the file, its format or a frame cannot be read or decoded.
bool ReadClip(const std::wstring& path, ClipInfo& info, const FrameSink& sink);
