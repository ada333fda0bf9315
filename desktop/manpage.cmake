cmake_minimum_required(VERSION 3.25)

# Makes the manual page from brenvale.1.in: @WINDOW_OPTIONS@ and
# @BATCH_OPTIONS@ become the program's own help texts (brenvale --help,
# brenvale --convert --help) from their first option on, in roff
# (helptoman.awk), so that the page says what --help says; @VERSION@ the
# version.
#   cmake -DPROGRAM=FILE -DAWK=FILE -DVERSION=V -DSOURCE_DIR=DIR -DOUTPUT=FILE -P manpage.cmake

function(help_in_roff variable)
  # The sanitizer build's program reports Qt's leaks at its exit; they are
  # not the help's concern.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 ${PROGRAM} ${ARGN} --help
    COMMAND ${AWK} -f ${SOURCE_DIR}/helptoman.awk
    OUTPUT_VARIABLE roff
    ERROR_VARIABLE errors
    RESULTS_VARIABLE statuses)
  if(NOT statuses STREQUAL "0;0" OR NOT roff MATCHES "^\\.TP\n")
    message(FATAL_ERROR "cannot read the options of ${PROGRAM} ${ARGN} --help (${statuses}): ${errors}")
  endif()
  set(${variable} "${roff}" PARENT_SCOPE)
endfunction()

help_in_roff(window)
help_in_roff(batch --convert)
file(READ ${SOURCE_DIR}/brenvale.1.in page)
string(REPLACE "@WINDOW_OPTIONS@\n" "${window}" page "${page}")
string(REPLACE "@BATCH_OPTIONS@\n" "${batch}" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
