// Codec instances and the imaging runtime they share.
#pragma once

#include <cstdint>

#include "codec/codec_instance.h"
#include "platform/platform.h"


// Process-wide. COM and the imaging library run while openCount > 0; the
// PNG encoder is looked up at each start. Opens and closes change it under
// a lock, so they may come from several threads at once.
struct ImagingRuntime {
    ULONG_PTR gdiplusToken;
    int32_t openCount;
    CLSID pngEncoderClsid;
};

extern ImagingRuntime imagingRuntime;

// Fills imagingRuntime.pngEncoderClsid from the encoder whose MIME type is
// "image/png"; returns its index in the encoder list, or -1.
int FindPngEncoder();
