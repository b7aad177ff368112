// What tests may observe or steer in the stand-in platform. Nothing in the
// codec calls these; they exist so tests can see what only a user would.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

// Message boxes shown so far, and the last one's caption and text.
int NativeMessageBoxShownCount();
std::u16string NativeMessageBoxLastCaption();
std::u16string NativeMessageBoxLastText();

// ---- Imaging ---------------------------------------------------------------
// Calls of GdiplusStartup and GdiplusShutdown since the process began, and
// tokens handed out but not yet shut down.
int NativeGdiplusStartupCount();
int NativeGdiplusShutdownCount();
int NativeGdiplusLiveTokenCount();
// Calls of GdipGetImageEncodersSize and GdipGetImageEncoders.
int NativeEncoderSizeQueryCount();
int NativeEncoderListQueryCount();
// While set, the encoder list is empty (size 0, count 0): no PNG encoder.
void NativeSetEncoderListEmpty(bool empty);
// Bitmaps made and not yet disposed.
int NativeLiveBitmapCount();
// Threads the worker pool made at the next start of the runtime may use
// (the calling thread included); 0 restores the default, one per core.
void NativeSetWorkerThreads(unsigned threads);
// Threads of the running pool, or 0 while the runtime is stopped.
unsigned NativeWorkerThreads();

// ---- Storage and streams ---------------------------------------------------
// The next StgCreateDocfile, or the next IStorage::CreateStream, fails with
// STG_E_MEDIUMFULL and makes nothing. Each switch resets after one failure.
void NativeFailNextStgCreateDocfile();
void NativeFailNextCreateStream();
// Storages and streams (file and memory streams) not yet fully released.
int NativeLiveStorageCount();
int NativeLiveStreamCount();
// The file behind a storage that StgCreateDocfile made; empty for anything
// else. The name stays readable until the storage's last release.
std::string NativeStoragePath(IStorage* storage);
// Reads from the files behind storage streams, as system calls.
int NativeFileReadCallCount();
// Written bytes a storage stream made from now on keeps in memory before
// they go to its file; 0 restores the default.
void NativeSetStreamHoldBytes(size_t bytes);
// COM initialisations on the calling thread not yet undone.
int NativeCoInitializeDepth();

// ---- Global memory ---------------------------------------------------------
// Blocks allocated and not yet freed, and GlobalFree calls on handles that
// were not live blocks (a double free shows up here).
int NativeLiveGlobalBlockCount();
int NativeBadGlobalFreeCount();
