# The agreement and fixture tests read and write tables with Debian's python
# xBase libraries (python3-dbfread, python3-dbf) through the helper scripts in
# data/python, and run the table tool. Debian's own interpreter is named
# outright: another python3 earlier on PATH may lack those libraries.
set(GRAZULO_TEST_PYTHON "/usr/bin/python3" CACHE FILEPATH "Python interpreter with python3-dbfread and python3-dbf")
foreach(target data_test_agreement data_test_fixtures)
  if(TARGET ${target})
    target_compile_definitions(${target} PRIVATE
      GRAZULO_PYTHON="${GRAZULO_TEST_PYTHON}"
      GRAZULO_PY_HELPERS="${CMAKE_CURRENT_SOURCE_DIR}/data/python")
    add_dependencies(${target} dbftool)
  endif()
endforeach()
