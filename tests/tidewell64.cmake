# Unit tests of Tidewell64, the uninstaller's 64-bit sibling, run whole
# against the simulated layer.
add_unit_test(tidewell64_tests
    SOURCES unit/tidewell64_test.cpp
    LIBS tidewell64_native)
