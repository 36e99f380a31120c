# The native build: the program sources compiled on Linux against the
# simulated Windows layer, for the unit tests. Each program's main is
# renamed so that a test can run the whole program in-process.
set(WARNINGS -Wall -Wextra -Werror)

add_subdirectory(winsim)

add_library(common_native STATIC ${COMMON_SOURCES})
target_link_libraries(common_native PUBLIC winsim)
target_compile_options(common_native PRIVATE ${WARNINGS})

add_library(tidewell_native STATIC ${TIDEWELL_SOURCES})
target_compile_definitions(tidewell_native PRIVATE main=TidewellMain)
target_link_libraries(tidewell_native PUBLIC common_native)
target_compile_options(tidewell_native PRIVATE ${WARNINGS})

add_library(tidewell64_native STATIC ${TIDEWELL64_SOURCES})
target_compile_definitions(tidewell64_native PRIVATE main=Tidewell64Main)
target_link_libraries(tidewell64_native PUBLIC common_native)
target_compile_options(tidewell64_native PRIVATE ${WARNINGS})

add_library(deploy_native STATIC ${DEPLOY_SOURCES})
target_compile_definitions(deploy_native PRIVATE main=DeployMain)
target_link_libraries(deploy_native PUBLIC common_native)
target_compile_options(deploy_native PRIVATE ${WARNINGS})

add_library(zorvane_native STATIC ${ZORVANE_SOURCES})
target_compile_definitions(zorvane_native PRIVATE main=ZorvaneMain)
target_link_libraries(zorvane_native PUBLIC common_native)
target_compile_options(zorvane_native PRIVATE ${WARNINGS})

enable_testing()
add_subdirectory(tests)
