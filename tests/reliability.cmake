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

add_unit_test(fault_sweep_deploy
    SOURCES unit/fault_sweep_test.cpp
    LIBS deploy_native)
target_compile_definitions(fault_sweep_deploy PRIVATE SWEEP_DEPLOY)

# Whole runs of the uninstaller over an inf folder full of bad input.
add_unit_test(bad_input_tests
    SOURCES unit/bad_input_test.cpp
    LIBS tidewell_native)

# Fuzz targets: libFuzzer programs in the fuzz preset, corpus replays elsewhere.
option(FUZZ_TARGETS "Build the libFuzzer targets (clang, the fuzz preset)" OFF)
add_subdirectory(fuzz)

# A program run as a process of its own beside the one under test (the real
# Tidewell64 the uninstaller starts on 64-bit Windows, TidewellDeploy that
# starts the uninstaller): its code and globals (its trace prefix among them)
# are linked into one object whose only global symbol is its main, so that
# they sit beside the other program's own. The object's path goes to var.
function(add_process_object var name main)
    set(sources ${ARGN})
    list(TRANSFORM sources PREPEND ${CMAKE_SOURCE_DIR}/)
    add_library(${name}_objects OBJECT ${sources})
    target_compile_definitions(${name}_objects PRIVATE main=${main})
    target_link_libraries(${name}_objects PRIVATE winsim)
    set(object ${CMAKE_CURRENT_BINARY_DIR}/${name}.o)
    add_custom_command(OUTPUT ${object}
        COMMAND ${CMAKE_LINKER} -r -o ${object}.all $<TARGET_OBJECTS:${name}_objects>
        COMMAND ${CMAKE_OBJCOPY} --wildcard --keep-global-symbol=*${main}* ${object}.all ${object}
        DEPENDS ${name}_objects $<TARGET_OBJECTS:${name}_objects>
        COMMAND_EXPAND_LISTS VERBATIM)
    set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
    set(${var} ${object} PARENT_SCOPE)
endfunction()
add_process_object(TIDEWELL64_PROCESS tidewell64_process Tidewell64Main
    ${TIDEWELL64_SOURCES} ${COMMON_SOURCES})
add_process_object(DEPLOY_PROCESS deploy_process DeployMain
    ${DEPLOY_SOURCES} ${COMMON_SOURCES})
target_sources(fault_sweep_tidewell PRIVATE ${TIDEWELL64_PROCESS})
