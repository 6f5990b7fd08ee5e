# bench_kiosk: the kiosk's card look-up and open-ticket search on site-sized
# tables. Included from bench/CMakeLists.txt.
add_executable(bench_kiosk ${CMAKE_CURRENT_LIST_DIR}/bench_kiosk.cpp)
target_link_libraries(bench_kiosk PRIVATE grazulo_kiosk_core)
