# The Windows packages (setup program and zip file), built from the two
# sub-builds' DLLs whenever makensis is there, and the setup program's tests
# under Wine (labels "installer" and "wine"): each boots a prefix of its
# own, so they run in parallel with each other and with the .inf tests.
# Included from CMakeLists.txt once the sub-builds are defined.
find_program(TALVEROX_MAKENSIS makensis)

set(package_dir ${CMAKE_CURRENT_BINARY_DIR}/package)
set(setup ${package_dir}/talverox-setup-${PROJECT_VERSION}.exe)
if(TALVEROX_MAKENSIS)
    # Runs on every build, as the sub-builds do: makensis takes seconds.
    add_custom_target(talverox_package ALL
        COMMAND ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION}
                -DDLL64=${win64}/src/talverox.dll -DDLL32=${win32}/src/talverox.dll
                -DOUTPUT_DIR=${package_dir} -DMAKENSIS=${TALVEROX_MAKENSIS}
                -P ${PROJECT_SOURCE_DIR}/cmake/package.cmake
        VERBATIM)
    add_dependencies(talverox_package talverox_win64 talverox_win32)
else()
    message(WARNING "makensis (Debian package nsis) not found: no setup program is built "
                    "and its tests are skipped")
endif()

# The zip file holds what the .inf installs from, byte for byte.
add_test(NAME installer.zip
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/installer_zip.sh ${TALVEROX_MAKENSIS}
                 ${package_dir}/talverox-${PROJECT_VERSION}-windows.zip
                 ${win64}/src/talverox.dll ${win32}/src/talverox.dll ${PROJECT_SOURCE_DIR})
set_tests_properties(installer.zip PROPERTIES LABELS installer SKIP_RETURN_CODE 77
                     WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

if(NOT TALVEROX_WINE64 OR NOT TALVEROX_WINESERVER)
    return()
endif()

foreach(name install uninstall upgrade foreign in_use)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/installer/${name})
    file(MAKE_DIRECTORY ${dir})
    add_test(NAME installer.${name}
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/installer_${name}.sh ${TALVEROX_MAKENSIS}
                     ${TALVEROX_WINE64} ${TALVEROX_WINESERVER} ${setup}
                     ${win64}/src/talverox.dll ${win32}/src/talverox.dll ${win64}/windows
                     ${PROJECT_VERSION})
    set_tests_properties(installer.${name} PROPERTIES
        LABELS "installer;wine" SKIP_RETURN_CODE 77 TIMEOUT 180 WORKING_DIRECTORY ${dir}
        ENVIRONMENT "WINEPREFIX=${dir}/prefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
endforeach()
