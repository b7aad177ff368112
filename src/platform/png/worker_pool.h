// One pool of threads for the whole process, shared by every frame that is
// large enough to split into bands. The imaging runtime owns it: it builds
// the pool when it starts and destroys it when it shuts down, never while a
// call that uses it is running.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class PngWorkers {
public:
    // `threads` is how many threads may work on one frame, the calling
    // thread included: the number of cores the process may run on. 0 means
    // std::thread::hardware_concurrency(). No thread starts until a frame
    // needs one.
    explicit PngWorkers(unsigned threads = 0);
    // Stops and joins the threads. No call may be using the pool.
    ~PngWorkers();
    PngWorkers(const PngWorkers&) = delete;
    PngWorkers& operator=(const PngWorkers&) = delete;

    unsigned Threads() const { return threads_; }
    // Threads started so far (0 until the first call with two tasks or more).
    size_t Started() const;

    // Calls task(i) once for every i in [0, count) and returns when all have
    // returned. The calling thread takes tasks too, so a call finishes even
    // when every worker is busy with other calls; each call waits only for
    // its own tasks. Safe to call from several threads at once. `task` must
    // not throw.
    void Run(size_t count, const std::function<void(size_t)>& task);

private:
    struct Job;
    void Start();
    void Work();
    static void TakeAndRun(Job& job);

    const unsigned threads_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job*> jobs_;
    std::vector<std::thread> workers_;
    bool started_ = false;
    bool stopping_ = false;
};

// Runs task(i) for i in [0, count): on the pool when there is one and more
// than one task, otherwise on the calling thread in order.
inline void RunTasks(PngWorkers* workers, size_t count, const std::function<void(size_t)>& task)
{
    if (workers != nullptr && count > 1 && workers->Threads() > 1) {
        workers->Run(count, task);
        return;
    }
    for (size_t i = 0; i < count; ++i)
        task(i);
}
