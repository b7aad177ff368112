// The imaging runtime's worker pool, for the operations that code frames.
#pragma once

#include "platform/png/worker_pool.h"

// The pool that GdiplusStartup made, or null while no token is live.
PngWorkers* ImagingWorkers();
