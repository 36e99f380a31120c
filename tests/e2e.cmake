# End-to-end scenarios: each description under e2e/scenarios runs on Wine,
# with the Windows builds in a fresh prefix, and on the simulated layer, with
# the program run in-process by a native runner; the outcomes must agree up
# to the differences a scenario declares, and meet its expectations.
foreach(program tidewell tidewell64 zorvane deploy)
    add_executable(e2e_native_${program}
        e2e/native_runner.cpp e2e/native_runner_${program}.cpp)
    target_link_libraries(e2e_native_${program} PRIVATE ${program}_native)
    target_include_directories(e2e_native_${program} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
    target_compile_options(e2e_native_${program} PRIVATE -Wall -Wextra -Werror)
endforeach()

# The driver's own reading of Wine's output and of scenario files.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME e2e.driver_reading
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_scenario.py)
set_tests_properties(e2e.driver_reading PROPERTIES LABELS unit TIMEOUT 60)

# Setup's finding out how the host starts i386 programs, and what it does
# about it, with the probe and the binfmt_misc folder replaced.
add_test(NAME setup.i386_host
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_i386host.py)
set_tests_properties(setup.i386_host PROPERTIES LABELS unit TIMEOUT 60)

set(E2E_DRIVER ${CMAKE_CURRENT_SOURCE_DIR}/e2e/scenario.py)
set(E2E_WORK ${CMAKE_BINARY_DIR}/e2e)
set(E2E_ARGS
    --work ${E2E_WORK}
    --win32-build ${WIN32_BUILD_DIR}
    --win64-build ${WIN64_BUILD_DIR}
    --native-tidewell $<TARGET_FILE:e2e_native_tidewell>
    --native-tidewell64 $<TARGET_FILE:e2e_native_tidewell64>
    --native-zorvane $<TARGET_FILE:e2e_native_zorvane>
    --native-deploy $<TARGET_FILE:e2e_native_deploy>)
file(GLOB E2E_SCENARIOS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/e2e/scenarios/*.scn)

# The layer's part of every scenario, whole programs run in-process: also in
# the sanitizer build, where Wine is not used.
foreach(scenario ${E2E_SCENARIOS})
    get_filename_component(name ${scenario} NAME_WE)
    add_test(NAME e2e.layer.${name}
        COMMAND ${Python3_EXECUTABLE} ${E2E_DRIVER} layer ${scenario} ${E2E_ARGS})
    set_tests_properties(e2e.layer.${name} PROPERTIES LABELS unit TIMEOUT 60)
endforeach()

if(WINE_TESTS)
    # The limits fit a host that runs i386 programs under CPU emulation: the
    # 64-bit template, with its 32-bit half, takes about 2 minutes to make
    # there, and each start of a 32-bit program about a minute. The driver's
    # own limit on each Wine call is what ends a hung run on other hosts.

    # The booted prefixes that every scenario copies, made once and kept in
    # the build folder.
    add_test(NAME e2e.prefix_templates
        COMMAND ${Python3_EXECUTABLE} ${E2E_DRIVER} templates ${E2E_ARGS})
    set_tests_properties(e2e.prefix_templates PROPERTIES
        FIXTURES_SETUP e2e_templates LABELS wine TIMEOUT 900)

    foreach(scenario ${E2E_SCENARIOS})
        get_filename_component(name ${scenario} NAME_WE)
        add_test(NAME e2e.${name}
            COMMAND ${Python3_EXECUTABLE} ${E2E_DRIVER} run ${scenario} ${E2E_ARGS})
        set_tests_properties(e2e.${name} PROPERTIES
            FIXTURES_REQUIRED e2e_templates LABELS wine TIMEOUT 600)
    endforeach()

    # A refusal under Xvfb: the real message box appears, keeps the program
    # waiting until it is dismissed, and is photographed.
    add_test(NAME e2e.messagebox_under_xvfb
        COMMAND ${Python3_EXECUTABLE} ${E2E_DRIVER} messagebox
            ${CMAKE_CURRENT_SOURCE_DIR}/e2e/scenarios/port_busy_ports.scn
            --png ${E2E_WORK}/messagebox.png ${E2E_ARGS})
    set_tests_properties(e2e.messagebox_under_xvfb PROPERTIES
        FIXTURES_REQUIRED e2e_templates LABELS wine TIMEOUT 300)
endif()
