// Counters and switches shared by the stand-in platform's parts and read or
// set through native_test_hooks.h. Atomic, because hosts may use the
// platform from several threads.
#pragma once

#include <atomic>
#include <cstddef>

struct PlatformState {
    // Imaging
    std::atomic<int> startups{0};
    std::atomic<int> shutdowns{0};
    std::atomic<int> liveTokens{0};
    std::atomic<int> encoderSizeQueries{0};
    std::atomic<int> encoderListQueries{0};
    std::atomic<int> liveBitmaps{0};
    std::atomic<bool> encoderListEmpty{false};
    std::atomic<unsigned> workerThreads{0};  // 0: as many as the process has cores
    // Storage and streams
    std::atomic<int> liveStorages{0};
    std::atomic<int> liveStreams{0};
    std::atomic<bool> failNextStorage{false};
    std::atomic<bool> failNextCreateStream{false};
    std::atomic<int> fileReadCalls{0};
    std::atomic<size_t> streamHoldBytes{0};  // 0: the default
    // Global memory
    std::atomic<int> liveBlocks{0};
    std::atomic<int> badFrees{0};
};

PlatformState& Counters();
