# The main job's demo machine under Wine (what scripts/demo.sh runs after
# building): the checks of its outcome, and the checks' own ability to fail.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME demo.checks_catch_faults
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_demo_machine.py)
set_tests_properties(demo.checks_catch_faults PROPERTIES LABELS unit TIMEOUT 60)

if(WINE_TESTS)
    # Shares the booted prefix template of the end-to-end scenarios. Its
    # Tidewell.exe runs under CPU emulation where i386 programs need it.
    add_test(NAME demo.main_job
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/demo_machine.py --check
            --work ${CMAKE_BINARY_DIR}/e2e
            --win32-build ${WIN32_BUILD_DIR} --win64-build ${WIN64_BUILD_DIR})
    set_tests_properties(demo.main_job PROPERTIES
        FIXTURES_REQUIRED e2e_templates LABELS wine TIMEOUT 600)
endif()
