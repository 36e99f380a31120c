# Unit tests of Zorvane64, the device-setup program, run whole against the
# simulated layer.
add_unit_test(zorvane_tests
    SOURCES unit/zorvane_test.cpp
    LIBS zorvane_native)
