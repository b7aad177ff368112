// Whole streams through the codec: frames in, compressed frames out (or the
// reverse), on `jobs` instances at once, delivered in their original order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "avi_reader.h"
#include "dib.h"
#include "progress.h"

struct RunFigures {
    uint64_t frames = 0;
    uint64_t compressedBytes = 0;
    double seconds = 0;
};

// Fills `rows` with the next frame; false when there are no more.
using FrameSource = std::function<bool(std::vector<uint8_t>& rows)>;

// Compresses every frame of `source`, laid out as `input` says, and writes
// them to the AVI file `path` at `rate` / `scale` frames per second.
RunFigures CompressToAvi(const DibFormat& input, const FrameSource& source, size_t jobs,
                         const std::string& path, uint32_t rate, uint32_t scale,
                         Progress& progress);

// Receives each decompressed frame in order: bottom-up DIB rows of the
// format the codec proposed.
using FrameSink = std::function<void(const uint8_t* rows, size_t index)>;

// Decompresses every frame of `avi`, described by `format` (normally the
// stream's own), and hands the rows to `sink`. A frame of
// 0 bytes (an AVI null frame) repeats the previous picture. `ready` learns
// the format the codec proposed before the first frame arrives.
RunFigures DecompressAvi(AviReader& avi, const DibFormat& format, size_t jobs,
                         const std::function<void(const DibFormat&)>& ready,
                         const FrameSink& sink, Progress& progress);
