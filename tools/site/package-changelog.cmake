# Run by cpack on the staged files before it packs them
# (CPACK_PRE_BUILD_SCRIPTS): /usr/share/doc/grazulo/changelog.gz names the
# package's version and the commit it was built from, as Debian asks of
# every package.
set(doc "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/grazulo")
# The commit is found with the version (package-version.cmake).
if(CPACK_GRAZULO_COMMIT)
  set(built "  * Built from commit ${CPACK_GRAZULO_COMMIT}.")
  if(NOT CPACK_GRAZULO_LOCAL_CHANGES STREQUAL "")
    set(built "  * Built from commit ${CPACK_GRAZULO_COMMIT} with changes not committed.")
  endif()
  set(date "${CPACK_GRAZULO_COMMIT_DATE}")
else()
  set(built "  * Built from a source without git history.")
  execute_process(COMMAND date -R OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
file(MAKE_DIRECTORY "${doc}")
file(WRITE "${doc}/changelog"
     "grazulo (${CPACK_PACKAGE_VERSION}) stable; urgency=medium\n\n${built}\n\n"
     " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
execute_process(COMMAND gzip -9nf "${doc}/changelog" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip could not compress ${doc}/changelog")
endif()
