// Inside view of global memory blocks, for the memory stream that owns one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/native/native_api.h"

// True for a live block allocated with GMEM_MOVEABLE.
bool IsMoveableGlobalBlock(HGLOBAL block);

// The block's bytes and size, without taking a lock. Null bytes for a
// block of 0 bytes or a handle that is not a live block.
uint8_t* GlobalBlockBytes(HGLOBAL block, size_t* size);

// Grows or shrinks a live movable block that is not locked; its bytes may
// move. Returns false, leaving the block as it was, otherwise or when
// memory runs out. New bytes are zero.
bool ResizeGlobalBlock(HGLOBAL block, size_t size);
