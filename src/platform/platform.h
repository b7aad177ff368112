// The one header through which the codec reaches its platform: the
// system's services, the imaging operations and the scratch storage. Only
// this folder knows which platform it is built for.
#pragma once

#include "platform/system.h"

// Imaging is served by our own PNG engine, unless the Windows build is
// configured to use the system's GDI+.
#if defined(TALVEROX_SYSTEM_GDIPLUS)
#include "platform/windows/gdiplus_api.h"
#else
#include "platform/imaging/imaging_api.h"
#endif

#include "platform/storage/storage_api.h"
