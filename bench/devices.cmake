# bench_devices: the scale frame and card line parsers on long streams.
# Included from bench/CMakeLists.txt.
add_executable(bench_devices ${CMAKE_CURRENT_LIST_DIR}/bench_devices.cpp)
target_link_libraries(bench_devices PRIVATE grazulo_devices)
