# bench_station: the station's look-up and completion on site-sized tables.
# Included from bench/CMakeLists.txt.
add_executable(bench_station ${CMAKE_CURRENT_LIST_DIR}/bench_station.cpp)
target_link_libraries(bench_station PRIVATE grazulo_station_core)
