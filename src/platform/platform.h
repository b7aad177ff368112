// The one header through which the codec reaches its platform: the driver
// records, COM storage and streams, global memory, the imaging library and
// the message box. Only this folder knows which platform it is built for.
#pragma once

#if defined(_WIN32)
#include "platform/windows/windows_api.h"
#else
#include "platform/native/native_api.h"
#endif
