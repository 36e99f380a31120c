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
