# bench_monthend: the month end and the data directory move on site-sized
# tables. Included from bench/CMakeLists.txt.
add_executable(bench_monthend ${CMAKE_CURRENT_LIST_DIR}/bench_monthend.cpp)
target_link_libraries(bench_monthend PRIVATE grazulo_monthend_core grazulo_setup_core)
