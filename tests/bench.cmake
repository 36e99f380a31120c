# Benchmarks over the native build (Google Benchmark), not part of the test
# command: `cmake --build <build> --target bench` builds and runs them and
# leaves their JSON results in <build>/bench. Each program's benchmark links
# that program's code; the common one supplies its own trace prefix.
# scripts/bench.sh runs them in a Release build with the Wine measurement.
set(BENCH_SOURCE_DIR ${CMAKE_SOURCE_DIR}/bench)
set(BENCH_OUTPUT_DIR ${CMAKE_BINARY_DIR}/bench)

# The machines the benchmarks build (device trees, INF folders)...
add_library(bench_shapes STATIC
    ${BENCH_SOURCE_DIR}/shapes.cpp
    ${BENCH_SOURCE_DIR}/machines.cpp)
target_link_libraries(bench_shapes PUBLIC winsim)
target_include_directories(bench_shapes PUBLIC ${BENCH_SOURCE_DIR})
target_compile_options(bench_shapes PRIVATE -Wall -Wextra -Werror)

# ... are part of the unit suite: they hold what they claim, and the programs
# read from them no more than their rules need.
add_unit_test(bench_shapes_tests
    SOURCES ${BENCH_SOURCE_DIR}/shapes_test.cpp
    LIBS tidewell_native bench_shapes)

find_package(benchmark QUIET)
if(benchmark_FOUND)

    set(BENCH_PROGRAMS)
    function(add_bench name)
        cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
        add_executable(${name} EXCLUDE_FROM_ALL ${B_SOURCES})
        target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${BENCH_SOURCE_DIR})
        target_link_libraries(${name} PRIVATE ${B_LIBS} bench_shapes benchmark::benchmark)
        target_compile_options(${name} PRIVATE -Wall -Wextra -Werror)
        set(BENCH_PROGRAMS ${BENCH_PROGRAMS} ${name} PARENT_SCOPE)
    endfunction()

    add_bench(bench_common SOURCES ${BENCH_SOURCE_DIR}/common_bench.cpp LIBS common_native)
    add_bench(bench_tidewell SOURCES ${BENCH_SOURCE_DIR}/tidewell_bench.cpp LIBS tidewell_native)
    add_bench(bench_tidewell64 SOURCES ${BENCH_SOURCE_DIR}/tidewell64_bench.cpp LIBS tidewell64_native)
    add_bench(bench_zorvane SOURCES ${BENCH_SOURCE_DIR}/zorvane_bench.cpp LIBS zorvane_native)

    # The INF files of the Wine measurement, from the same shapes.
    add_executable(bench_infgen EXCLUDE_FROM_ALL ${BENCH_SOURCE_DIR}/infgen.cpp)
    target_link_libraries(bench_infgen PRIVATE bench_shapes)
    target_compile_options(bench_infgen PRIVATE -Wall -Wextra -Werror)

    set(BENCH_COMMANDS COMMAND ${CMAKE_COMMAND} -E make_directory ${BENCH_OUTPUT_DIR})
    foreach(program ${BENCH_PROGRAMS})
        list(APPEND BENCH_COMMANDS COMMAND $<TARGET_FILE:${program}>
            --benchmark_counters_tabular=true
            --benchmark_out=${BENCH_OUTPUT_DIR}/${program}.json
            --benchmark_out_format=json)
    endforeach()
    add_custom_target(bench ${BENCH_COMMANDS}
        DEPENDS ${BENCH_PROGRAMS} bench_infgen
        COMMENT "Benchmarks (${CMAKE_BUILD_TYPE} build)"
        USES_TERMINAL VERBATIM)
else()
    message(STATUS "Google Benchmark not found: no bench target (scripts/setup.sh installs it)")
endif()
