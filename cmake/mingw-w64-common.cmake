# Shared part of the mingw-w64 toolchain files; TALVEROX_MINGW_TRIPLE names
# the target.
# The posix-thread variant, for std::thread and std::mutex; its threading
# library is linked statically like the rest of the runtime.
set(CMAKE_C_COMPILER ${TALVEROX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVEROX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVEROX_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${TALVEROX_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TALVEROX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A system codec must load on a bare Windows: no libgcc or libstdc++ DLLs
# beside it, only the system's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
# Release DLLs ship without symbols; the import and export tables stay.
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
