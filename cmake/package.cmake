# Builds the Windows packages from the two cross-built DLLs:
#   talverox-setup-VERSION.exe    the setup program (NSIS, 64-bit)
#   talverox-VERSION-windows.zip  the DLLs under the names talverox.inf
#                                 expects, the .inf, README.txt, LICENSE.txt
#
# cmake -DDLL64=... -DDLL32=... -DOUTPUT_DIR=... [-DVERSION=x.y.z]
#       [-DMAKENSIS=...] -P cmake/package.cmake
# VERSION defaults to the one in the top CMakeLists.txt's project().
cmake_minimum_required(VERSION 3.25)

get_filename_component(source_dir ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
foreach(input DLL64 DLL32 OUTPUT_DIR)
    if(NOT ${input})
        message(FATAL_ERROR "package.cmake: ${input} is not set")
    endif()
endforeach()
foreach(dll ${DLL64} ${DLL32})
    if(NOT EXISTS ${dll})
        message(FATAL_ERROR "package.cmake: ${dll} does not exist")
    endif()
endforeach()

if(NOT VERSION)
    file(READ ${source_dir}/CMakeLists.txt top)
    if(NOT top MATCHES "project\\(talverox VERSION ([0-9]+\\.[0-9]+\\.[0-9]+)")
        message(FATAL_ERROR "package.cmake: no version in project() of the top CMakeLists.txt")
    endif()
    set(VERSION ${CMAKE_MATCH_1})
endif()
if(NOT MAKENSIS)
    find_program(MAKENSIS makensis REQUIRED)
endif()

file(MAKE_DIRECTORY ${OUTPUT_DIR})

# The setup program. -WX: a warning from makensis is a fault in the script.
set(setup ${OUTPUT_DIR}/talverox-setup-${VERSION}.exe)
execute_process(
    COMMAND ${MAKENSIS} -V2 -WX -NOCD
            -DVERSION=${VERSION} -DDLL64=${DLL64} -DDLL32=${DLL32}
            -DLICENSE=${source_dir}/LICENSE -DOUTFILE=${setup}
            ${source_dir}/windows/installer/talverox.nsi
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "makensis failed (${result})")
endif()

# The zip file, for 32-bit Windows and for installing by hand: one folder
# that talverox.inf installs from as it is.
set(name talverox-${VERSION}-windows)
set(stage ${OUTPUT_DIR}/${name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})
file(COPY_FILE ${DLL64} ${stage}/talverox64.dll)
file(COPY_FILE ${DLL32} ${stage}/talverox32.dll)
file(COPY_FILE ${source_dir}/windows/talverox.inf ${stage}/talverox.inf)
file(COPY_FILE ${source_dir}/windows/INSTALL.md ${stage}/README.txt)
file(COPY_FILE ${source_dir}/LICENSE ${stage}/LICENSE.txt)
file(REMOVE ${OUTPUT_DIR}/${name}.zip)
execute_process(
    COMMAND ${CMAKE_COMMAND} -E tar cf ${name}.zip --format=zip ${name}
    WORKING_DIRECTORY ${OUTPUT_DIR}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot write ${name}.zip (${result})")
endif()
file(REMOVE_RECURSE ${stage})

message(STATUS "Wrote ${setup}")
message(STATUS "Wrote ${OUTPUT_DIR}/${name}.zip")
