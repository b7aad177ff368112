#include "platform/common/platform_state.h"

#include "platform/test_hooks.h"

PlatformState& Counters()
{
    static PlatformState state;
    return state;
}

int NativeGdiplusStartupCount() { return Counters().startups; }
int NativeGdiplusShutdownCount() { return Counters().shutdowns; }
int NativeGdiplusLiveTokenCount() { return Counters().liveTokens; }
int NativeEncoderSizeQueryCount() { return Counters().encoderSizeQueries; }
int NativeEncoderListQueryCount() { return Counters().encoderListQueries; }
void NativeSetEncoderListEmpty(bool empty) { Counters().encoderListEmpty = empty; }
int NativeLiveBitmapCount() { return Counters().liveBitmaps; }
void NativeFailNextStgCreateDocfile() { Counters().failNextStorage = true; }
void NativeFailNextCreateStream() { Counters().failNextCreateStream = true; }
int NativeLiveStorageCount() { return Counters().liveStorages; }
int NativeLiveStreamCount() { return Counters().liveStreams; }
int NativeFileReadCallCount() { return Counters().fileReadCalls; }
void NativeSetStreamHoldBytes(size_t bytes) { Counters().streamHoldBytes = bytes; }
int NativeLiveGlobalBlockCount() { return Counters().liveBlocks; }
int NativeBadGlobalFreeCount() { return Counters().badFrees; }
