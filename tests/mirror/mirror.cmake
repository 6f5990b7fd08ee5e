# The mirror into the head office's database. Included from
# tests/CMakeLists.txt. The tests that need a database start a PostgreSQL
# server of their own (PgServer), and skip with a message where none can run.
add_library(grazulo_testpg STATIC ${CMAKE_CURRENT_LIST_DIR}/PgServer.cpp)
target_include_directories(grazulo_testpg PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(grazulo_testpg PUBLIC grazulo_mirror)

grazulo_add_tests(mirror grazulo_mirror grazulo_testpg grazulo_monthend_core grazulo_records_core grazulo_setup_core)
add_dependencies(mirror_test_mirror_kill grazulo-admin)
add_test(NAME mirror/units COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/units_test.sh $<TARGET_FILE:grazulo-admin>
                                   ${CMAKE_SOURCE_DIR}/tools/site)
set_tests_properties(mirror/units PROPERTIES TIMEOUT 120)
add_dependencies(mirror_test_mirror_timer grazulo-admin)
