// The public interface of libtalverox.so for Linux hosts: the Video for
// Windows records and messages, the result codes, and the one entry point
// through which every request goes, as the video compression manager would
// send it.
#pragma once

#include "talverox/codes.h"
#include "talverox/vfw.h"

extern "C" {

// Answers one driver or codec message; see the VfW documentation of each
// ICM_* message for what lParam1 and lParam2 carry. The first argument is
// what DRV_OPEN returned (0 for the messages before it).
LRESULT DriverProc(DWORD_PTR driverId, HDRVR driverHandle, UINT message, LPARAM lParam1,
                   LPARAM lParam2);

// Shows the codec's about box.
LONG Configure(HWND window, LPARAM, LPARAM, LPARAM);
}
