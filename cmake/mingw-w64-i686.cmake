# Cross-build the 32-bit Windows DLL with Debian's mingw-w64 (win32 thread
# model: the codec starts no threads, so it needs no winpthread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TALVEROX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
