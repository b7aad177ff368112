// Plain words for what the codec answers, so refusals read as sentences.
#pragma once

#include <cstdint>
#include <string>

#include "dib.h"

// "ICM_COMPRESS", "DRV_OPEN", or the number in hex for others.
std::string MessageName(uint32_t message);

// "ICERR_BADFORMAT (-2)", or "result 5" for values without a name.
std::string ResultName(intptr_t result);

// The codec's refusal of `message` for `format`: what cannot be done and,
// where the user can do something, what; `detail` (" on frame 3") after
// it, then the message and result names in brackets for whoever debugs.
std::string RefusalWords(uint32_t message, const BITMAPINFOHEADER& format, intptr_t result,
                         const std::string& detail = {});
