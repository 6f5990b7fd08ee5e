# bench_mirror: a site's year mirrored into a PostgreSQL server of its own.
# Included from bench/CMakeLists.txt.
add_executable(bench_mirror ${CMAKE_CURRENT_LIST_DIR}/bench_mirror.cpp ${CMAKE_SOURCE_DIR}/tests/mirror/PgServer.cpp)
target_include_directories(bench_mirror PRIVATE ${CMAKE_SOURCE_DIR}/tests/mirror)
target_link_libraries(bench_mirror PRIVATE grazulo_mirror)
