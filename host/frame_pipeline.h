// Frames through N workers and back out in their original order.
//
// The submitting thread reads frames and writes results; each worker owns
// one codec instance and handles one frame at a time. At most `depth`
// frames are in flight, which bounds memory whatever the file's length.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct PipelineItem {
    size_t index = 0;
    std::vector<uint8_t> input;
    std::vector<uint8_t> output;
    // What the worker makes `input` from, when the submitter does not.
    std::shared_ptr<const void> source;
    // Bytes that travel with the frame untouched (the audio stored after it).
    std::vector<uint8_t> extra;
};

class FramePipeline {
public:
    // Runs `work(worker, item)` on worker `worker` (0 .. workers-1), then
    // `deliver(item)` on the submitting thread in submission order. An
    // exception from either stops the pipeline and is rethrown from
    // Submit or Finish.
    using Work = std::function<void(size_t worker, PipelineItem& item)>;
    using Deliver = std::function<void(PipelineItem& item)>;

    FramePipeline(size_t workers, size_t depth, Work work, Deliver deliver);
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // An item to fill, with buffers of a delivered item when there is one.
    PipelineItem Spare();
    // Queues `item`; its index is set to the number of items submitted before
    // it. Blocks while the pipeline is full, delivering finished items.
    void Submit(PipelineItem item);
    // Delivers everything still in flight.
    void Finish();

private:
    void Run(size_t worker);
    // Delivers what is ready in order; waits for at least one when `wait`.
    void DeliverReady(bool wait);
    void Stop();

    Work work_;
    Deliver deliver_;
    size_t depth_;
    size_t submitted_ = 0;
    size_t delivered_ = 0;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::deque<PipelineItem> pending_;
    std::map<size_t, PipelineItem> done_;
    std::vector<PipelineItem> spare_;
    std::exception_ptr error_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};
