// ICM_DECOMPRESS: one PNG frame in, DIB rows out.
#pragma once

#include <cstdint>

#include "platform/platform.h"

int32_t OnDecompress(const ICDECOMPRESS* decompress);
