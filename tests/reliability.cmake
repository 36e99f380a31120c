# Reliability: every fallible platform call of each program's run made to fail
# in turn (one test program per program, each links its own program library),
# and the fuzz targets when the fuzz preset builds them.
add_unit_test(fault_sweep_tidewell
    SOURCES unit/fault_sweep_test.cpp
    LIBS tidewell_native)
target_compile_definitions(fault_sweep_tidewell PRIVATE SWEEP_TIDEWELL)

add_unit_test(fault_sweep_zorvane
    SOURCES unit/fault_sweep_test.cpp
    LIBS zorvane_native)
target_compile_definitions(fault_sweep_zorvane PRIVATE SWEEP_ZORVANE)

add_unit_test(fault_sweep_tidewell64
    SOURCES unit/fault_sweep_test.cpp
    LIBS tidewell64_native)
target_compile_definitions(fault_sweep_tidewell64 PRIVATE SWEEP_TIDEWELL64)

# Whole runs of the uninstaller over an inf folder full of bad input.
add_unit_test(bad_input_tests
    SOURCES unit/bad_input_test.cpp
    LIBS tidewell_native)

# Fuzz targets: libFuzzer programs in the fuzz preset, corpus replays elsewhere.
option(FUZZ_TARGETS "Build the libFuzzer targets (clang, the fuzz preset)" OFF)
add_subdirectory(fuzz)

# The uninstaller's runs cut short on 64-bit Windows start the real
# Tidewell64 as a process of its own: its code and globals (its trace prefix
# among them) are linked into one object whose only global symbol is
# Tidewell64Main, so that they sit beside the uninstaller's own.
set(TIDEWELL64_PROCESS_SOURCES ${TIDEWELL64_SOURCES} ${COMMON_SOURCES})
list(TRANSFORM TIDEWELL64_PROCESS_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
add_library(tidewell64_process_objects OBJECT ${TIDEWELL64_PROCESS_SOURCES})
target_compile_definitions(tidewell64_process_objects PRIVATE main=Tidewell64Main)
target_link_libraries(tidewell64_process_objects PRIVATE winsim)
set(TIDEWELL64_PROCESS ${CMAKE_CURRENT_BINARY_DIR}/tidewell64_process.o)
add_custom_command(OUTPUT ${TIDEWELL64_PROCESS}
    COMMAND ${CMAKE_LINKER} -r -o ${TIDEWELL64_PROCESS}.all $<TARGET_OBJECTS:tidewell64_process_objects>
    COMMAND ${CMAKE_OBJCOPY} --wildcard --keep-global-symbol=*Tidewell64Main*
            ${TIDEWELL64_PROCESS}.all ${TIDEWELL64_PROCESS}
    DEPENDS tidewell64_process_objects $<TARGET_OBJECTS:tidewell64_process_objects>
    COMMAND_EXPAND_LISTS VERBATIM)
set_source_files_properties(${TIDEWELL64_PROCESS} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
target_sources(fault_sweep_tidewell PRIVATE ${TIDEWELL64_PROCESS})
