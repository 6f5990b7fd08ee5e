# The crash test's writer: data/test_crash.cpp kills it at random moments and
# checks the table it leaves.
add_executable(crash_writer ${CMAKE_CURRENT_LIST_DIR}/crash_writer.cpp)
target_link_libraries(crash_writer PRIVATE grazulo_data)

if(TARGET data_test_crash)
  target_compile_definitions(data_test_crash PRIVATE GRAZULO_CRASH_WRITER="$<TARGET_FILE:crash_writer>")
  add_dependencies(data_test_crash crash_writer dbftool)
  set_tests_properties(data/test_crash PROPERTIES TIMEOUT 600)
endif()
