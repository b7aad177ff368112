// What one open of the codec owns: its scratch storage and stream, and the
// PNG encoder it encodes with, copied from the imaging runtime at the open.
#pragma once

#include "platform/platform.h"

// One per accepted DRV_OPEN; its address is the driver id of every later
// message of that open.
struct CodecInstance {
    IStorage* storage;      // temporary file, deleted on release
    IStream* stream;        // "StreamImage" in storage: scratch space for encoded frames
    CLSID pngEncoderClsid;  // all zero when the runtime found no PNG encoder
};
