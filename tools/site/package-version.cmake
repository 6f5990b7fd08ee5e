# Read by cpack when it makes the package (CPACK_PROJECT_CONFIG_FILE): the
# package's version is the project's version followed by the number of
# commits of the source's history, so that each build of a later commit is a
# greater version and apt installs it over the one before. A source with
# changes not committed gets "+local" and the time of the build after it
# (0.1.70+local20261211093000): greater than its commit's build, less than
# the next commit's. GRAZULO_PACKAGE_VERSION in cpack's environment gives the
# version outright. The commit (CPACK_GRAZULO_COMMIT, its date
# CPACK_GRAZULO_COMMIT_DATE, "" without history) is for the changelog.
#
# The history must be the source's own: a source unpacked from an archive
# into another repository's tree has none.
set(CPACK_GRAZULO_COMMIT "")
set(changes "")
execute_process(COMMAND git -C "${CPACK_GRAZULO_SOURCE_DIR}" rev-parse --show-toplevel --is-shallow-repository
                OUTPUT_VARIABLE repo RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REAL_PATH "${CPACK_GRAZULO_SOURCE_DIR}" source)
if(NOT failed AND repo MATCHES "^(.+)\n(true|false)$")
  set(shallow "${CMAKE_MATCH_2}")
  file(REAL_PATH "${CMAKE_MATCH_1}" top)
  if(top STREQUAL source)
    execute_process(COMMAND git -C "${source}" log -1 "--format=%h%n%aD"
                    OUTPUT_VARIABLE head ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(head MATCHES "^([0-9a-f]+)\n(.+)$")
      set(CPACK_GRAZULO_COMMIT "${CMAKE_MATCH_1}")
      set(CPACK_GRAZULO_COMMIT_DATE "${CMAKE_MATCH_2}")
    endif()
    execute_process(COMMAND git -C "${source}" status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
endif()
if(NOT "$ENV{GRAZULO_PACKAGE_VERSION}" STREQUAL "")
  set(CPACK_PACKAGE_VERSION "$ENV{GRAZULO_PACKAGE_VERSION}")
elseif(NOT CPACK_GRAZULO_VERSION_SET)
  set(commits "")
  if(CPACK_GRAZULO_COMMIT)
    if(shallow)
      message(FATAL_ERROR "The source is a shallow clone: its commit count is not the version. "
                          "Fetch the whole history (git fetch --unshallow) or set GRAZULO_PACKAGE_VERSION.")
    endif()
    execute_process(COMMAND git -C "${source}" rev-list --count HEAD
                    OUTPUT_VARIABLE commits ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT commits MATCHES "^[0-9]+$")
    message(WARNING "The source has no git history: the package is version ${CPACK_PACKAGE_VERSION}.0, "
                    "which does not upgrade an installed one; set GRAZULO_PACKAGE_VERSION to a greater version.")
    set(commits 0)
  elseif(NOT changes STREQUAL "")
    string(TIMESTAMP now "%Y%m%d%H%M%S" UTC)
    string(APPEND commits "+local${now}")
  endif()
  set(CPACK_PACKAGE_VERSION "${CPACK_PACKAGE_VERSION}.${commits}")
endif()
# cpack reads this file once per generator; the count is added once.
set(CPACK_GRAZULO_VERSION_SET TRUE)
set(CPACK_GRAZULO_LOCAL_CHANGES "${changes}")
set(CPACK_DEBIAN_PACKAGE_VERSION "${CPACK_PACKAGE_VERSION}")
