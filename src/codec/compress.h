// ICM_COMPRESS: one DIB frame in, one PNG datastream out.
#pragma once

#include <cstdint>

#include "codec/codec_instance.h"
#include "platform/platform.h"

int32_t OnCompress(const ICCOMPRESS* compress, CodecInstance* instance);
