# The compression and PNG libraries the platform layer links, under names
# that do not depend on where they come from:
#
#   talverox::deflate   libdeflate
#   talverox::spng      libspng, with zlib
#
# Native builds use the system's shared libraries. The Windows DLLs must load
# on a bare Windows, so there both are static libraries compiled here from
# the Debian source packages that scripts/setup unpacks, and zlib is
# Debian's static mingw-w64 build (libz-mingw-w64-dev).

# scripts/setup honours the same name in the environment.
if(DEFINED ENV{TALVEROX_THIRD_PARTY_DIR})
    set(third_party_default "$ENV{TALVEROX_THIRD_PARTY_DIR}")
else()
    set(third_party_default "${PROJECT_SOURCE_DIR}/build/third_party")
endif()
set(TALVEROX_THIRD_PARTY_DIR "${third_party_default}" CACHE PATH
    "Folder holding the unpacked libdeflate and libspng source packages (Windows builds)")

if(NOT WIN32)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(TALVEROX_SPNG REQUIRED IMPORTED_TARGET spng)
    find_library(TALVEROX_DEFLATE_LIBRARY NAMES deflate REQUIRED)
    find_path(TALVEROX_DEFLATE_INCLUDE_DIR NAMES libdeflate.h REQUIRED)

    add_library(talverox_deflate INTERFACE)
    target_include_directories(talverox_deflate INTERFACE ${TALVEROX_DEFLATE_INCLUDE_DIR})
    target_link_libraries(talverox_deflate INTERFACE ${TALVEROX_DEFLATE_LIBRARY})
    add_library(talverox_spng INTERFACE)
    target_link_libraries(talverox_spng INTERFACE PkgConfig::TALVEROX_SPNG)

    add_library(talverox::deflate ALIAS talverox_deflate)
    add_library(talverox::spng ALIAS talverox_spng)
    return()
endif()

# The newest unpacked tree of one source package, found by a file it must hold.
function(talverox_source_tree var package marker)
    file(GLOB trees LIST_DIRECTORIES true "${TALVEROX_THIRD_PARTY_DIR}/${package}-[0-9]*")
    set(found)
    foreach(tree IN LISTS trees)
        if(EXISTS "${tree}/${marker}")
            list(APPEND found "${tree}")
        endif()
    endforeach()
    if(NOT found)
        message(FATAL_ERROR "The ${package} sources are not in ${TALVEROX_THIRD_PARTY_DIR}. "
                            "Run scripts/setup (as root) to unpack Debian's source packages, "
                            "or point TALVEROX_THIRD_PARTY_DIR at a folder that holds them.")
    endif()
    list(SORT found COMPARE NATURAL ORDER DESCENDING)
    list(GET found 0 newest)
    set(${var} "${newest}" PARENT_SCOPE)
endfunction()

talverox_source_tree(deflate_dir libdeflate lib/deflate_compress.c)
talverox_source_tree(spng_dir libspng spng/spng.c)

# Third-party code keeps its own warnings out of ours and is built at -O2,
# as its authors ship it, whatever the build type asks for.
set(third_party_options -O2 -w)
# GCC cannot align the Windows stack to 32 bytes, so AVX spills it marks
# aligned can fault; the assembler turns those moves into unaligned ones.
list(APPEND third_party_options -Wa,-muse-unaligned-vector-move)

# libdeflate 1.14 has no CMake build: its library sources compiled as its
# Makefile does. SSE2, PCLMUL, AVX2 and BMI2 code is chosen at run time
# through target attributes, so no -m flag is needed, on 32 bits either.
add_library(talverox_deflate STATIC
    ${deflate_dir}/lib/adler32.c
    ${deflate_dir}/lib/crc32.c
    ${deflate_dir}/lib/deflate_compress.c
    ${deflate_dir}/lib/deflate_decompress.c
    ${deflate_dir}/lib/gzip_compress.c
    ${deflate_dir}/lib/gzip_decompress.c
    ${deflate_dir}/lib/utils.c
    ${deflate_dir}/lib/zlib_compress.c
    ${deflate_dir}/lib/zlib_decompress.c
    ${deflate_dir}/lib/x86/cpu_features.c
)
target_include_directories(talverox_deflate PUBLIC ${deflate_dir})
target_compile_definitions(talverox_deflate PRIVATE _ANSI_SOURCE)
target_compile_options(talverox_deflate PRIVATE ${third_party_options})

# zlib for libspng: the static archive, never the import library of zlib1.dll.
find_library(TALVEROX_MINGW_ZLIB NAMES libz.a)
find_path(TALVEROX_MINGW_ZLIB_INCLUDE_DIR NAMES zlib.h)
if(NOT TALVEROX_MINGW_ZLIB OR NOT TALVEROX_MINGW_ZLIB_INCLUDE_DIR)
    message(FATAL_ERROR "zlib for mingw-w64 not found: install libz-mingw-w64-dev (scripts/setup)")
endif()

# libspng is one source file. SPNG_STATIC keeps dllimport out of its header
# for us as for itself. Its SSE2 filters are left to 64-bit builds, where
# SSE2 is the baseline: on 32 bits they would need SSE2 of every user's CPU,
# and unlike libdeflate's entry points libspng's do not realign the 4-byte
# stack that 32-bit Windows callers may pass.
add_library(talverox_spng STATIC ${spng_dir}/spng/spng.c)
target_include_directories(talverox_spng PUBLIC ${spng_dir}/spng ${TALVEROX_MINGW_ZLIB_INCLUDE_DIR})
target_compile_definitions(talverox_spng PUBLIC SPNG_STATIC)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_compile_definitions(talverox_spng PRIVATE SPNG_DISABLE_OPT)
endif()
target_compile_options(talverox_spng PRIVATE ${third_party_options})
target_link_libraries(talverox_spng PUBLIC ${TALVEROX_MINGW_ZLIB})

add_library(talverox::deflate ALIAS talverox_deflate)
add_library(talverox::spng ALIAS talverox_spng)
