# Run by cpack after it has staged the files of a package: the copyright file
# and the Debian changelog that every Debian package carries, and the strip of
# the sections that plain strip leaves in the program (as dh_strip does).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(usr "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${usr}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_BRENVALE_DEBIAN_DIR}/copyright" "${doc}/copyright")
file(CHMOD "${doc}/copyright" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
execute_process(
  COMMAND sh -c "gzip -9nc '${CPACK_BRENVALE_DEBIAN_DIR}/changelog' > '${doc}/changelog.Debian.gz'"
  RESULT_VARIABLE gzipped)
execute_process(
  COMMAND strip --remove-section=.comment --remove-section=.note "${usr}/${CPACK_BRENVALE_PROGRAM}"
          "${usr}/${CPACK_BRENVALE_WINDOW_MODULE}"
  RESULT_VARIABLE stripped)
if(NOT gzipped EQUAL 0 OR NOT stripped EQUAL 0)
  message(FATAL_ERROR "cannot finish the staged package")
endif()
