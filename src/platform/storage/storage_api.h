// The scratch storage the codec encodes frames into, served in every build
// by our own code: a temporary file behind a small buffer, deleted when the
// storage is released. The system's compound files cost more than the
// encoding itself, one COM call per 100-byte read.
#pragma once

#include "platform/system.h"

// Makes a temporary storage that holds one stream (IStorage::CreateStream).
// Only `name` null is supported; `mode` must ask for read-write, exclusive
// access, and STGM_DELETEONRELEASE removes the file with the last release.
HRESULT WINAPI StgCreateDocfile(LPCOLESTR name, DWORD mode, DWORD reserved, IStorage** storage);
