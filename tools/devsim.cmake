# devsim: the scale indicator, card reader and ticket printer on
# pseudo-terminals. Included from tools/CMakeLists.txt.
add_executable(devsim ${CMAKE_CURRENT_LIST_DIR}/devsim.cpp)

# The test that runs devsim is defined after tools/; tie them together once
# every directory has been read.
function(_grazulo_devsim_test_dependency)
  if(TARGET devices_test_devsim AND TARGET devsim)
    add_dependencies(devices_test_devsim devsim)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _grazulo_devsim_test_dependency)
