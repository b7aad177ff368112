// Start-up and shut-down of the imaging library. The first live token
// brings the worker pool that large frames are coded on; the last one's
// shut-down joins its threads. A token shut down twice, or never handed
// out, changes nothing.
#include <atomic>
#include <memory>
#include <mutex>
#include <set>

#include "platform/common/platform_state.h"
#include "platform/common/processors.h"
#include "platform/imaging/runtime.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace {

std::mutex tokensMutex;
std::set<ULONG_PTR> liveTokens;
ULONG_PTR nextToken = 1;
// Owned under tokensMutex; read without it by frames, which only run while
// a token is live.
std::unique_ptr<PngWorkers> pool;
std::atomic<PngWorkers*> poolInUse{nullptr};

}  // namespace

PngWorkers* ImagingWorkers() { return poolInUse.load(std::memory_order_acquire); }

Status WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                             GdiplusStartupOutput* output)
{
    if (token == nullptr || input == nullptr)
        return InvalidParameter;
    // Versions 1 to 3 exist; without the background thread the caller must
    // take the hooks through `output`.
    if (input->GdiplusVersion < 1 || input->GdiplusVersion > 3 ||
        (input->SuppressBackgroundThread != FALSE && output == nullptr))
        return InvalidParameter;
    try {
        std::lock_guard lock(tokensMutex);
        if (liveTokens.empty()) {
            const unsigned forced = Counters().workerThreads.load();
            pool = std::make_unique<PngWorkers>(forced != 0 ? forced : ProcessorCount());
            poolInUse.store(pool.get(), std::memory_order_release);
        }
        liveTokens.insert(nextToken);
        *token = nextToken++;
    } catch (...) {
        return OutOfMemory;
    }
    ++Counters().startups;
    ++Counters().liveTokens;
    return Ok;
}

void WINAPI GdiplusShutdown(ULONG_PTR token)
{
    ++Counters().shutdowns;
    std::lock_guard lock(tokensMutex);
    if (liveTokens.erase(token) != 0)
        --Counters().liveTokens;
    if (liveTokens.empty() && pool) {
        poolInUse.store(nullptr, std::memory_order_release);
        pool.reset();  // joins the threads
    }
}

void NativeSetWorkerThreads(unsigned threads) { Counters().workerThreads = threads; }

unsigned NativeWorkerThreads()
{
    const PngWorkers* workers = ImagingWorkers();
    return workers != nullptr ? workers->Threads() : 0;
}
