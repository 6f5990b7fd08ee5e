# bench_reports: the transactions report over a year of day tables.
# Included from bench/CMakeLists.txt.
add_executable(bench_reports ${CMAKE_CURRENT_LIST_DIR}/bench_reports.cpp)
target_link_libraries(bench_reports PRIVATE grazulo_reports_print)
