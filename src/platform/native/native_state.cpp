#include "platform/native/native_state.h"

#include "platform/native/native_test_hooks.h"

NativeState& Native()
{
    static NativeState state;
    return state;
}

int NativeGdiplusStartupCount() { return Native().startups; }
int NativeGdiplusShutdownCount() { return Native().shutdowns; }
int NativeGdiplusLiveTokenCount() { return Native().liveTokens; }
int NativeEncoderSizeQueryCount() { return Native().encoderSizeQueries; }
int NativeEncoderListQueryCount() { return Native().encoderListQueries; }
void NativeSetEncoderListEmpty(bool empty) { Native().encoderListEmpty = empty; }
int NativeLiveBitmapCount() { return Native().liveBitmaps; }
void NativeFailNextStgCreateDocfile() { Native().failNextStorage = true; }
void NativeFailNextCreateStream() { Native().failNextCreateStream = true; }
int NativeLiveStorageCount() { return Native().liveStorages; }
int NativeLiveStreamCount() { return Native().liveStreams; }
int NativeFileReadCallCount() { return Native().fileReadCalls; }
int NativeLiveGlobalBlockCount() { return Native().liveBlocks; }
int NativeBadGlobalFreeCount() { return Native().badFrees; }
