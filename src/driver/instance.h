// Codec instances and the imaging runtime they share.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// One per accepted DRV_OPEN; its address is the driver id of every later
// message of that open.
struct CodecInstance {
    IStorage* storage;  // temporary compound file, deleted on release
    IStream* stream;    // "StreamImage" in storage: scratch space for encoded frames
};

// Process-wide. COM and the imaging library run while openCount > 0; the
// PNG encoder is looked up at each start. Not locked: the host must not
// open or close instances on two threads at once.
struct ImagingRuntime {
    ULONG_PTR gdiplusToken;
    int32_t openCount;
    CLSID pngEncoderClsid;
};

extern ImagingRuntime imagingRuntime;

// Fills imagingRuntime.pngEncoderClsid from the encoder whose MIME type is
// "image/png"; returns its index in the encoder list, or -1.
int FindPngEncoder();
