# The deliverables: GUI-subsystem programs linked statically, so that they
# import KnownDLLs only (Windows maps those from the system folder alone).
enable_language(RC)

# The same commit gives the same bytes, wherever and whenever it is built.
# The PE time stamp is the commit's time: SOURCE_DATE_EPOCH where it is set
# (scripts/package.sh sets it), else the time of the checked-out commit, else
# 0. ld takes it from the environment of the link.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(BUILD_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE BUILD_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT BUILD_EPOCH MATCHES "^[0-9]+$")
    set(BUILD_EPOCH 0)
endif()

# Linked stripped (-s): no symbol table, nor the debug information of the
# mingw-w64 runtime with its own build paths. TERMINAL_SERVER_AWARE beside
# ld's defaults DYNAMIC_BASE, NX_COMPAT and, on x64, HIGH_ENTROPY_VA: without
# it a program on a Remote Desktop Session Host gets a private Windows folder
# per user from GetWindowsDirectoryA, and the sweep would search the wrong
# inf folder.
function(add_windows_program name)
    cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} WIN32 ${P_SOURCES})
    target_compile_options(${name} PRIVATE -Wall -Wextra -Werror -fno-exceptions -fno-rtti
        -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++ -s
        -Wl,--tsaware)
    target_link_libraries(${name} PRIVATE ${P_LIBS})
    set_target_properties(${name} PROPERTIES
        CXX_LINKER_LAUNCHER "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${BUILD_EPOCH}")
endfunction()

# The application manifest of a program (asInvoker), which its .rc file
# embeds as resource 1 of type RT_MANIFEST, with the release version as its
# assembly version (four parts) and the build's machine.
set(DEPLOY_DESCRIPTION "Device removal with return codes for deployment systems")
function(embed_manifest target name description)
    set(MANIFEST_NAME ${name})
    set(MANIFEST_DESCRIPTION ${description})
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(MANIFEST_ARCH amd64)
    else()
        set(MANIFEST_ARCH x86)
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/uninstaller/program.manifest.in
        ${CMAKE_BINARY_DIR}/manifest/${name}.manifest @ONLY)
    target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/manifest)
    set_source_files_properties(${CMAKE_SOURCE_DIR}/uninstaller/${name}.rc PROPERTIES
        OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/manifest/${name}.manifest)
endfunction()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_windows_program(Tidewell
        SOURCES ${TIDEWELL_SOURCES} ${COMMON_SOURCES} uninstaller/Tidewell.rc
        LIBS setupapi advapi32 user32 kernel32)
    # Of the common code only what it uses: it touches no device.
    add_windows_program(TidewellDeploy
        SOURCES ${DEPLOY_SOURCES} ${DEPLOY_COMMON_SOURCES} uninstaller/TidewellDeploy.rc
        LIBS advapi32 kernel32)
    embed_manifest(TidewellDeploy TidewellDeploy "${DEPLOY_DESCRIPTION}")
else()
    # No cfgmgr32: it is no KnownDLL, so an import of it would be searched
    # for in the program's folder first. Zorvane64 loads it from the system
    # folder at run time.
    add_windows_program(Zorvane64
        SOURCES ${ZORVANE_SOURCES} ${COMMON_SOURCES} devsetup/Zorvane64.rc
        LIBS setupapi advapi32 user32 kernel32)
    add_windows_program(Tidewell64
        SOURCES ${TIDEWELL64_SOURCES} ${COMMON_SOURCES} uninstaller/Tidewell64.rc
        LIBS setupapi advapi32 user32 kernel32)
    embed_manifest(Tidewell64 Tidewell64 "Uninstall Device Driver for 64-bit Windows")
endif()

# Small Windows programs the end-to-end tests use to seed Wine prefixes.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fixtures/CMakeLists.txt)
    add_subdirectory(tests/fixtures)
endif()
