#include "platform/png/worker_pool.h"

#include <algorithm>
#include <system_error>

// A call's tasks. Workers and the caller claim indices until none is left;
// `users` counts the workers still running tasks of the job, so the caller
// knows when its stack frame may go. Guarded by the pool's mutex.
struct PngWorkers::Job {
    const std::function<void(size_t)>* task;
    size_t count;
    std::atomic<size_t> next{0};
    unsigned users = 0;
    std::condition_variable done;
};

PngWorkers::PngWorkers(unsigned threads)
    : threads_(threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency()))
{
}

PngWorkers::~PngWorkers()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

size_t PngWorkers::Started() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return workers_.size();
}

// Called with mutex_ held. A thread that cannot be created only means
// fewer helpers: the caller still runs every task left to it.
void PngWorkers::Start()
{
    started_ = true;
    for (unsigned i = 1; i < threads_; ++i) {
        try {
            workers_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            break;
        }
    }
}

void PngWorkers::TakeAndRun(Job& job)
{
    for (size_t i; (i = job.next.fetch_add(1, std::memory_order_relaxed)) < job.count;)
        (*job.task)(i);
}

void PngWorkers::Work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            return;
        Job* job = jobs_.front();
        if (job->next.load(std::memory_order_relaxed) >= job->count) {
            jobs_.pop_front();  // every task claimed; its caller waits for the rest
            continue;
        }
        ++job->users;
        lock.unlock();
        TakeAndRun(*job);
        lock.lock();
        // Notified under the lock: the caller cannot free the job before
        // this thread lets go of it.
        if (--job->users == 0)
            job->done.notify_all();
    }
}

void PngWorkers::Run(size_t count, const std::function<void(size_t)>& task)
{
    Job job;
    job.task = &task;
    job.count = count;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_ && count > 1)
            Start();
        if (!workers_.empty() && count > 1)
            jobs_.push_back(&job);
    }
    wake_.notify_all();
    TakeAndRun(job);
    // Every index is claimed now; wait for the workers still running one.
    std::unique_lock<std::mutex> lock(mutex_);
    job.done.wait(lock, [&] { return job.users == 0; });
    const auto it = std::find(jobs_.begin(), jobs_.end(), &job);
    if (it != jobs_.end())
        jobs_.erase(it);
}
