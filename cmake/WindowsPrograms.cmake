# The deliverables: GUI-subsystem programs linked statically, so that they
# import KnownDLLs only (Windows maps those from the system folder alone).
enable_language(RC)

function(add_windows_program name)
    cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} WIN32 ${P_SOURCES})
    target_compile_options(${name} PRIVATE -Wall -Wextra -Werror -fno-exceptions -fno-rtti)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
    target_link_libraries(${name} PRIVATE ${P_LIBS})
endfunction()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_windows_program(Tidewell
        SOURCES ${TIDEWELL_SOURCES} ${COMMON_SOURCES} uninstaller/Tidewell.rc
        LIBS setupapi advapi32 user32 kernel32)
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
    # Its application manifest (asInvoker) is embedded by the .rc file.
    set_source_files_properties(uninstaller/Tidewell64.rc PROPERTIES
        OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/uninstaller/Tidewell64.manifest)
endif()

# Small Windows programs the end-to-end tests use to seed Wine prefixes.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fixtures/CMakeLists.txt)
    add_subdirectory(tests/fixtures)
endif()
