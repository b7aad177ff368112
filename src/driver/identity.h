// Who the codec says it is.
#pragma once

#include "codes.h"
#include "platform/platform.h"

constexpr DWORD kCodecFlags = VIDCF_COMPRESSFRAMES | VIDCF_FASTTEMPORALC | VIDCF_FASTTEMPORALD;
constexpr DWORD kCodecVersion = 0;

static_assert(kCodecFlags == 0xA8);
