# Unit tests of the uninstaller's flow and stages against the simulated layer.
add_unit_test(tidewell_tests
    SOURCES unit/tidewell_flow_test.cpp
            unit/devscan_test.cpp
            unit/removal_test.cpp
            unit/portcheck_test.cpp
    LIBS tidewell_native)
# The real sibling, a process of its own on 64-bit Windows, and
# TidewellDeploy, which starts the uninstaller (reliability.cmake builds both).
target_sources(tidewell_tests PRIVATE ${TIDEWELL64_PROCESS} ${DEPLOY_PROCESS})
