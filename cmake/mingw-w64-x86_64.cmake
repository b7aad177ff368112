# Cross-build the 64-bit Windows DLL with Debian's mingw-w64 (win32 thread
# model: the codec starts no threads, so it needs no winpthread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TALVEROX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
