# The sharing test's other program: a process that holds a lock on a table
# as the site's other xBase programs do.
add_executable(lock_holder ${CMAKE_CURRENT_LIST_DIR}/lock_holder.cpp)

if(TARGET data_test_sharing)
  target_compile_definitions(data_test_sharing PRIVATE GRAZULO_LOCK_HOLDER="$<TARGET_FILE:lock_holder>")
  add_dependencies(data_test_sharing lock_holder dbftool)
endif()
