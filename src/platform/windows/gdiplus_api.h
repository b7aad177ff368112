// The system's GDI+, for builds configured to use it instead of our PNG
// engine. Its headers keep the types in Gdiplus and the flat functions in
// Gdiplus::DllExports; the codec calls them unqualified, as the flat C
// interface names them.
#pragma once

#include <gdiplus.h>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

static_assert(sizeof(GpRect) == 16);
static_assert(PixelFormat8bppIndexed == 0x00030803);
static_assert(PixelFormat16bppGrayScale == 0x00101004);
static_assert(PixelFormat24bppRGB == 0x00021808);
static_assert(PixelFormat32bppARGB == 0x0026200A);
