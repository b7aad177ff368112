#include "codec_runs.h"

#include <chrono>
#include <cstring>
#include <memory>

#include "codec_session.h"

namespace {

using Clock = std::chrono::steady_clock;

// Frames in flight per worker: enough to keep every instance busy while the
// submitting thread reads and writes.
constexpr size_t kDepthPerJob = 3;

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

RunFigures CompressStreamToAvi(const DibFormat& input, const WorkerSource& source, size_t jobs,
                               const std::string& path, uint32_t rate, uint32_t scale,
                               PcmFormat audio, Progress& progress, uint64_t riffLimit)
{
    CodecDriver driver;
    // Opened up front, so that a refusal comes before any frame is read.
    std::vector<std::unique_ptr<Compressor>> compressors;
    for (size_t i = 0; i < jobs; ++i)
        compressors.push_back(std::make_unique<Compressor>(input));

    AviWriter writer(path, compressors.front()->OutputFormat(), rate, scale, audio, riffLimit);
    RunFigures figures;
    const Clock::time_point start = Clock::now();
    {
        FramePipeline pipeline(
            jobs, jobs * kDepthPerJob,
            [&](size_t worker, PipelineItem& item) {
                if (source.rows)
                    source.rows(worker, item);
                compressors[worker]->Compress(item.input.data(),
                                              static_cast<int32_t>(item.index), item.output);
            },
            [&](PipelineItem& item) {
                writer.WriteFrame(item.output.data(), item.output.size());
                writer.WriteAudio(item.extra.data(), item.extra.size());
                figures.compressedBytes += item.output.size();
                progress.Update(static_cast<int64_t>(++figures.frames));
                item.source.reset();
                item.extra.clear();
            });
        for (;;) {
            PipelineItem item = pipeline.Spare();
            if (!source.next(item))
                break;
            pipeline.Submit(std::move(item));
        }
        pipeline.Finish();
    }
    if (source.rest) {
        std::vector<uint8_t> audioLeft;
        source.rest(audioLeft);
        writer.WriteAudio(audioLeft.data(), audioLeft.size());
    }
    writer.Finish();
    figures.seconds = Since(start);
    progress.Done();
    return figures;
}

RunFigures CompressToAvi(const DibFormat& input, const FrameSource& source, size_t jobs,
                         const std::string& path, uint32_t rate, uint32_t scale,
                         Progress& progress)
{
    const WorkerSource rows{[&](PipelineItem& item) { return source(item.input); }, nullptr,
                            nullptr};
    return CompressStreamToAvi(input, rows, jobs, path, rate, scale, PcmFormat{}, progress);
}

RunFigures DecompressAvi(AviReader& avi, const DibFormat& format, size_t jobs,
                         const std::function<void(const DibFormat&)>& ready,
                         const FrameSink& sink, Progress& progress)
{
    CodecDriver driver;
    std::vector<std::unique_ptr<Decompressor>> decompressors;
    for (size_t i = 0; i < jobs; ++i)
        decompressors.push_back(std::make_unique<Decompressor>(format));
    const size_t frameBytes = decompressors.front()->FrameBytes();
    ready(decompressors.front()->OutputFormat());

    RunFigures figures;
    // The picture a null frame repeats; black before the first real one.
    std::vector<uint8_t> previous(frameBytes, 0);
    const Clock::time_point start = Clock::now();
    {
        FramePipeline pipeline(
            jobs, jobs * kDepthPerJob,
            [&](size_t worker, PipelineItem& item) {
                if (item.input.empty()) {
                    item.output.clear();
                    return;
                }
                // Zeroed so that bytes the codec leaves alone read the same every run.
                item.output.assign(frameBytes, 0);
                decompressors[worker]->Decompress(item.input.data(), item.input.size(),
                                                  static_cast<int32_t>(item.index),
                                                  item.output.data());
            },
            [&](PipelineItem& item) {
                figures.compressedBytes += item.input.size();
                if (!item.output.empty())
                    previous.swap(item.output);
                sink(previous.data(), item.index);
                progress.Update(static_cast<int64_t>(++figures.frames));
            });
        for (size_t i = 0; i < avi.Frames().size(); ++i) {
            PipelineItem item = pipeline.Spare();
            avi.ReadFrame(i, item.input);
            pipeline.Submit(std::move(item));
        }
        pipeline.Finish();
    }
    figures.seconds = Since(start);
    progress.Done();
    return figures;
}
