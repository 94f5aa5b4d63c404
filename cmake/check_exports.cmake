# Compares the defined dynamic symbols of LIBRARY (nm -D --defined-only) with
# the names of the version script EXPORTS; fails on any difference.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(exported)
foreach(line IN LISTS lines)
  string(REGEX MATCH "^[^ ]+" symbol "${line}")
  list(APPEND exported ${symbol})
endforeach()
list(SORT exported)

file(READ ${EXPORTS} script)
string(REGEX MATCH "global:([^}]*)local:" global "${script}")
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" wanted "${CMAKE_MATCH_1}")
list(SORT wanted)

if(NOT exported STREQUAL wanted)
  message(FATAL_ERROR "${LIBRARY} exports\n  ${exported}\nbut should export exactly\n  ${wanted}")
endif()
list(LENGTH wanted count)
message(STATUS "${LIBRARY}: exactly its ${count} Windows names")
