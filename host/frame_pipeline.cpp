#include "frame_pipeline.h"

#include <utility>

FramePipeline::FramePipeline(size_t workers, size_t depth, Work work, Deliver deliver)
    : work_(std::move(work)), deliver_(std::move(deliver)), depth_(depth < workers ? workers : depth)
{
    if (depth_ == 0)
        depth_ = 1;
    threads_.reserve(workers);
    for (size_t w = 0; w < workers; ++w)
        threads_.emplace_back([this, w] { Run(w); });
}

FramePipeline::~FramePipeline()
{
    Stop();
}

PipelineItem FramePipeline::Spare()
{
    if (spare_.empty())
        return {};
    PipelineItem item = std::move(spare_.back());
    spare_.pop_back();
    return item;
}

void FramePipeline::Submit(PipelineItem item)
{
    while (submitted_ - delivered_ >= depth_)
        DeliverReady(true);
    item.index = submitted_;
    {
        std::lock_guard lock(mutex_);
        if (error_)
            std::rethrow_exception(error_);
        pending_.push_back(std::move(item));
    }
    ++submitted_;
    queued_.notify_one();
    DeliverReady(false);
}

void FramePipeline::Finish()
{
    while (delivered_ < submitted_)
        DeliverReady(true);
    std::lock_guard lock(mutex_);
    if (error_)
        std::rethrow_exception(error_);
}

void FramePipeline::Run(size_t worker)
{
    for (;;) {
        PipelineItem item;
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            if (stopping_)
                return;
            item = std::move(pending_.front());
            pending_.pop_front();
        }
        try {
            work_(worker, item);
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!error_)
                error_ = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            const size_t index = item.index;
            done_.emplace(index, std::move(item));
        }
        finished_.notify_one();
    }
}

void FramePipeline::DeliverReady(bool wait)
{
    for (;;) {
        PipelineItem item;
        {
            std::unique_lock lock(mutex_);
            if (wait)
                finished_.wait(lock, [this] { return error_ || done_.count(delivered_) != 0; });
            if (error_)
                std::rethrow_exception(error_);
            auto next = done_.find(delivered_);
            if (next == done_.end())
                return;
            item = std::move(next->second);
            done_.erase(next);
        }
        try {
            deliver_(item);
        } catch (...) {
            std::lock_guard lock(mutex_);
            error_ = std::current_exception();
            throw;
        }
        ++delivered_;
        spare_.push_back(std::move(item));
        wait = false;
    }
}

void FramePipeline::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
    threads_.clear();
}
