// Whole streams through the codec: frames in, compressed frames out (or the
// reverse), on `jobs` instances at once, delivered in their original order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "avi_reader.h"
#include "avi_writer.h"
#include "dib.h"
#include "frame_pipeline.h"
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

// A source whose rows are made on the workers. `next` fills an item on the
// calling thread, in order: its `source` and the audio stored after the
// frame (`extra`); false when there are no more. `rows` then turns the
// item's source into rows in `input`, on worker `worker`. `rest` gives the
// audio left after the last frame.
struct WorkerSource {
    std::function<bool(PipelineItem& item)> next;
    std::function<void(size_t worker, PipelineItem& item)> rows;
    std::function<void(std::vector<uint8_t>& audio)> rest;
};

// CompressToAvi for a WorkerSource, with an audio stream when `audio` has
// channels. `riffLimit` exists for tests.
RunFigures CompressStreamToAvi(const DibFormat& input, const WorkerSource& source, size_t jobs,
                               const std::string& path, uint32_t rate, uint32_t scale,
                               PcmFormat audio, Progress& progress,
                               uint64_t riffLimit = AviWriter::kRiffLimit);

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
