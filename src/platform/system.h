// The operating system's own services that the codec uses: the driver
// records, COM start-up, global memory and memory streams, the message box.
// Windows serves them itself; elsewhere our stand-in does.
#pragma once

#if defined(_WIN32)
#include "platform/windows/windows_api.h"
#else
#include "platform/native/native_api.h"
#endif
