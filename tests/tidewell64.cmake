# Unit tests of Tidewell64, the uninstaller's 64-bit sibling, run whole
# against the simulated layer.
add_unit_test(tidewell64_tests
    SOURCES unit/tidewell64_test.cpp
    LIBS tidewell64_native)

# The release package needs both Windows builds, like the Wine tests: it is
# registered with them and fails when a build is missing.
if(WINE_TESTS)
    add_test(NAME package_content
        COMMAND ${CMAKE_COMMAND} -E env
            WIN32_BUILD_DIR=${WIN32_BUILD_DIR}
            WIN64_BUILD_DIR=${WIN64_BUILD_DIR}
            PACKAGE_DIR=${CMAKE_CURRENT_BINARY_DIR}/package
            ${CMAKE_SOURCE_DIR}/scripts/check_package.sh)
    set_tests_properties(package_content PROPERTIES LABELS package TIMEOUT 600)
endif()
