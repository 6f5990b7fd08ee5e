# The Debian package and the kiosk session at a site. Included from
# tests/CMakeLists.txt.
add_test(NAME site/package
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}
                 ${PROJECT_VERSION})
set_tests_properties(site/package PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
add_test(NAME site/session
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/session_test.sh $<TARGET_FILE:grazulo-admin> $<TARGET_FILE:grazulo>
                 $<TARGET_FILE:devsim> ${CMAKE_SOURCE_DIR}/tools/site/grazulo-session
                 ${CMAKE_SOURCE_DIR}/tools/site/grazulo-kiosk.service)
set_tests_properties(site/session PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
# The maintainer scripts on their own, each sequence an administrator goes
# through (install, upgrade, remove, purge, install again) a test.
foreach(case install upgrade upgrade-timer-off remove purge reinstall)
  add_test(NAME site/maintscripts/${case}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/maintscripts_test.sh ${CMAKE_SOURCE_DIR}/tools/site ${case})
  set_tests_properties(site/maintscripts/${case} PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77)
endforeach()
add_test(NAME site/version
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/version_test.sh ${CMAKE_SOURCE_DIR}/tools/site/package-version.cmake)
set_tests_properties(site/version PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77)
add_test(NAME site/session_restart
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/session_restart_test.sh ${CMAKE_SOURCE_DIR}/tools/site/grazulo-session)
set_tests_properties(site/session_restart PROPERTIES TIMEOUT 120)
