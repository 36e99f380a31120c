# The simulated layer's INF reader and the INF folder sweep.

# infdump built against the simulated layer (its main renamed, as the
# programs' are), to be compared with the Windows build run under Wine.
set(INFDUMP_SOURCE ${CMAKE_CURRENT_LIST_DIR}/fixtures/infdump.cpp)
add_executable(infdump_native ${INFDUMP_SOURCE} ${CMAKE_CURRENT_LIST_DIR}/infdiff/infdump_native.cpp)
set_source_files_properties(${INFDUMP_SOURCE} PROPERTIES COMPILE_DEFINITIONS main=InfdumpMain)
target_link_libraries(infdump_native PRIVATE winsim)
target_compile_options(infdump_native PRIVATE -Wall -Wextra -Werror)

# The differential test: the same files through Wine's SetupAPI and through
# the layer must print the same (tests/infdiff/exceptions.txt lists where the
# layer follows Windows rather than Wine). Fails when Wine or the win64
# build's infdump.exe is missing; skipped, saying why, without the INF corpus
# beside the checkout.
if(WINE_TESTS)
    add_test(NAME infreader.wine_differential
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/infdiff/run.sh
            $<TARGET_FILE:infdump_native>
            ${WIN64_BUILD_DIR}/tests/fixtures/infdump.exe
            ${CMAKE_BINARY_DIR}/infdiff
            ${CMAKE_CURRENT_LIST_DIR}/infdiff/exceptions.txt
            ${CMAKE_CURRENT_LIST_DIR}/inf
            ${CMAKE_SOURCE_DIR}/../shared/inf-corpus)
    # Its own 64-bit prefix takes about 2 minutes to make where the prefix's
    # 32-bit half runs under CPU emulation.
    set_tests_properties(infreader.wine_differential PROPERTIES
        LABELS wine TIMEOUT 600 SKIP_RETURN_CODE 77)
endif()

add_unit_test(infreader_tests
    SOURCES unit/inf_reader_test.cpp
    LIBS winsim)

add_unit_test(sweep_tests
    SOURCES unit/sweep_test.cpp
    LIBS tidewell_native)
target_compile_definitions(sweep_tests PRIVATE INF_TEST_DIR="${CMAKE_CURRENT_LIST_DIR}/inf")
