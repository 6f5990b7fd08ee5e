# Read by cpack when it makes the package (CPACK_PROJECT_CONFIG_FILE): the
# package's version is the project's version followed by the number of
# commits of the source's history, so that each build of a later commit is a
# greater version and apt installs it over the one before.
# GRAZULO_PACKAGE_VERSION in cpack's environment gives the version outright.
if(NOT "$ENV{GRAZULO_PACKAGE_VERSION}" STREQUAL "")
  set(CPACK_PACKAGE_VERSION "$ENV{GRAZULO_PACKAGE_VERSION}")
elseif(NOT CPACK_GRAZULO_VERSION_SET)
  execute_process(COMMAND git -C "${CPACK_GRAZULO_SOURCE_DIR}" rev-list --count HEAD
                  OUTPUT_VARIABLE commits RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed OR NOT commits MATCHES "^[0-9]+$")
    message(WARNING "The source has no git history: the package is version ${CPACK_PACKAGE_VERSION}.0, "
                    "which does not upgrade an installed one; set GRAZULO_PACKAGE_VERSION to a greater version.")
    set(commits 0)
  endif()
  set(CPACK_PACKAGE_VERSION "${CPACK_PACKAGE_VERSION}.${commits}")
endif()
# cpack reads this file once per generator; the count is added once.
set(CPACK_GRAZULO_VERSION_SET TRUE)
set(CPACK_DEBIAN_PACKAGE_VERSION "${CPACK_PACKAGE_VERSION}")
