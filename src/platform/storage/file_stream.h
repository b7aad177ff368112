// A stream whose bytes live in a file, behind one buffer so that small
// reads and writes (the codec reads 100 bytes at a time) cost a memory copy
// rather than a system call each. Written bytes stay in the buffer, up to
// a limit, until something must come from the file: a frame written and
// read back, as compression does every frame, never touches it.
#pragma once

#include <memory>

#include "platform/platform.h"
#include "platform/storage/scratch_file.h"

// A new stream over the whole of `file`, positioned at 0, with one
// reference. Null when memory runs out.
IStream* CreateFileStream(std::shared_ptr<ScratchFile> file);
