# cmake -DCOMMANDS=<compile_commands.json> -DDIRECTORY=<build folder> -DPROBE=<target>
#       -DHEADER=<folder/File.h> -DCOMPILES=yes|no -P CheckFloor.cmake
# Compiles FloorProbe.cpp with the probe target's own command (its library's include roots and
# options) and HEADER included. COMPILES=no passes only when the compiler says HEADER is missing;
# COMPILES=yes only when it compiles.
# CMake writes each entry's command on a line of its own.
file(STRINGS "${COMMANDS}" lines REGEX "\"command\": .*/${PROBE}\\.dir/FloorProbe")
if(NOT lines MATCHES "\"command\": \"(.*)\",?$")
  message(FATAL_ERROR "no compile command of ${PROBE} in ${COMMANDS}")
endif()
string(REPLACE "\\\"" "\"" command "${CMAKE_MATCH_1}")
string(REPLACE "\\\\" "\\" command "${command}")
separate_arguments(args UNIX_COMMAND "${command}")
# Syntax only, and no object file: the rest of the command as the build runs it.
list(FIND args "-o" at)
if(at GREATER_EQUAL 0)
  list(REMOVE_AT args ${at})
  list(REMOVE_AT args ${at})
endif()
execute_process(COMMAND ${args} -fsyntax-only "-DTARVIK_PROBE_HEADER=\"${HEADER}\""
  WORKING_DIRECTORY "${DIRECTORY}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
string(REPLACE "." "\\." pattern "${HEADER}")
if(COMPILES STREQUAL "yes")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROBE} could not include ${HEADER}:\n${out}")
  endif()
  message(STATUS "${PROBE} includes ${HEADER}")
elseif(status EQUAL 0)
  message(FATAL_ERROR "${PROBE} includes ${HEADER}, a header above its floor")
elseif(out MATCHES "${pattern}: No such file or directory" OR out MATCHES "'${pattern}' file not found")
  message(STATUS "${PROBE} cannot include ${HEADER}")
else()
  message(FATAL_ERROR "${PROBE} failed on ${HEADER} for another reason than a missing header:\n${out}")
endif()
