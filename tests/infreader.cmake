# The simulated layer's INF reader and the INF folder sweep.

# infdump built against the simulated layer (its main renamed, as the
# programs' are), to be compared with the Windows build run under Wine.
set(INFDUMP_SOURCE ${CMAKE_CURRENT_LIST_DIR}/fixtures/infdump.cpp)
add_executable(infdump_native ${INFDUMP_SOURCE} ${CMAKE_CURRENT_LIST_DIR}/infdiff/infdump_native.cpp)
set_source_files_properties(${INFDUMP_SOURCE} PROPERTIES COMPILE_DEFINITIONS main=InfdumpMain)
target_link_libraries(infdump_native PRIVATE winsim)
target_compile_options(infdump_native PRIVATE -Wall -Wextra -Werror)
