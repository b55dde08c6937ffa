# The harness: the core with a panel that prints what it shows, driven by commands on stdin. Built
# with a port that prints what is written (harness_core) and with the real serial port.
add_executable(harness_core ${PROJECT_SOURCE_DIR}/tests/harness.cpp)
target_link_libraries(harness_core PRIVATE zundrel_core ${CMAKE_DL_LIBS})
add_executable(harness_serial ${PROJECT_SOURCE_DIR}/tests/harness.cpp)
target_compile_definitions(harness_serial PRIVATE ZUNDREL_HARNESS_SERIAL)
target_link_libraries(harness_serial PRIVATE zundrel_serial zundrel_core ${CMAKE_DL_LIBS})
