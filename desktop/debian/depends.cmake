# Read by cpack before it makes a package: the Debian package's Depends.
#
# dpkg-shlibdeps names the packages of the shared libraries that the program,
# the decoder and the encoder it carries need, with their versions. To these
# come lame itself, whose program is the encoder the package carries (its
# copyright and its manual page come with it, and its libraries at the
# version the build used), Qt's platform plugins, without which Qt
# cannot open a window, and the font the window is designed in (Arial, which
# fontconfig resolves to Liberation Sans): another font stands in less well.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT DPKG_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps is missing: install dpkg-dev")
endif()
set(work "${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}/debian")
file(WRITE "${work}/debian/control" "")
execute_process(
  COMMAND ${DPKG_SHLIBDEPS} -O ${CPACK_BRENVALE_ELF_FILES}
  WORKING_DIRECTORY "${work}"
  OUTPUT_VARIABLE shlibs
  RESULT_VARIABLE result
  ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT shlibs MATCHES "shlibs:Depends=([^\n]*)")
  message(FATAL_ERROR "dpkg-shlibdeps failed: ${errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}, lame, qt6-qpa-plugins, fonts-liberation")
message(STATUS "Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
