// The system's names the codec uses, taken from the Windows SDK headers
// (mingw-w64's or Microsoft's). The native stand-in declares the same names
// with the same layouts, so the codec compiles unchanged against either.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
// The scratch storage is ours (storage/storage_api.h): keep the system's
// declaration of the same name out of the way.
#define StgCreateDocfile SystemStgCreateDocfile
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>
#include <objbase.h>
#include <objidl.h>
#undef StgCreateDocfile

#include <cstddef>
#include <cstdint>

// The codec declares its own signed ICERR_* constants; the SDK's macros
// would rewrite those declarations.
#undef ICERR_OK
#undef ICERR_DONTDRAW
#undef ICERR_NEWPALETTE
#undef ICERR_GOTOKEYFRAME
#undef ICERR_STOPDRAWING
#undef ICERR_UNSUPPORTED
#undef ICERR_BADFORMAT
#undef ICERR_MEMORY
#undef ICERR_INTERNAL
#undef ICERR_BADFLAGS
#undef ICERR_BADPARAM
#undef ICERR_BADSIZE
#undef ICERR_BADHANDLE
#undef ICERR_CANTUPDATE
#undef ICERR_ABORT
#undef ICERR_ERROR
#undef ICERR_BADBITDEPTH
#undef ICERR_BADIMAGESIZE
#undef ICERR_CUSTOM

// Exports are named in talverox.def, which also maps away the __stdcall
// decoration of the 32-bit build. 32-bit callers may enter with the stack
// aligned to only 4 bytes, while our SSE and AVX code assumes 16: realign
// on entry.
#if defined(__i386__)
#define CODEC_EXPORT extern "C" __attribute__((force_align_arg_pointer))
#else
#define CODEC_EXPORT extern "C"
#endif

// ---- Layouts the codec and its hosts rely on --------------------------------

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(WCHAR) == 2 && sizeof(OLECHAR) == 2);
static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4);
static_assert(sizeof(LPARAM) == sizeof(void*) && sizeof(LRESULT) == sizeof(void*) &&
              sizeof(DWORD_PTR) == sizeof(void*));
static_assert(sizeof(ICINFO) == 568);
static_assert(offsetof(ICINFO, szName) == 24);
static_assert(offsetof(ICINFO, szDescription) == 56);
static_assert(offsetof(ICINFO, szDriver) == 312);
static_assert(sizeof(GUID) == 16);
