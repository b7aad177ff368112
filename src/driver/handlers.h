// The driver core's own message handlers: identity, about box, open and
// close. The format and frame handlers are declared by their own layers
// (format/, codec/). Each takes what its message carries and returns what
// DriverProc passes back to the host.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct CodecInstance;

// Identity (driver/identity.cpp).
LRESULT OnGetInfo(ICINFO* info, LPARAM size);
int32_t OnAbout(HWND window);

// Instances (driver/instance.cpp). OpenInstance returns null when refused.
CodecInstance* OpenInstance(ICOPEN* open);
void CloseInstance(CodecInstance* instance);
