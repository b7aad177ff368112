// Plain words for what the codec answers, so refusals read as sentences.
#pragma once

#include <cstdint>
#include <string>

// "ICM_COMPRESS", "DRV_OPEN", or the number in hex for others.
std::string MessageName(uint32_t message);

// "ICERR_BADFORMAT (-2)", or "result 5" for values without a name.
std::string ResultName(intptr_t result);
