# Builds the release ZIP with CPack and checks its contents: the two programs, the guide
# and the licence, nothing else.
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP WORKING_DIRECTORY ${BINARY_DIR}
                RESULT_VARIABLE built OUTPUT_QUIET)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${built}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${PACKAGE} OUTPUT_VARIABLE listing
                RESULT_VARIABLE listed)
if(NOT listed EQUAL 0)
  message(FATAL_ERROR "cannot list ${PACKAGE}")
endif()
string(REGEX REPLACE "[^\n]*/" "" names "${listing}")
string(REPLACE "\n" ";" names "${names}")
list(REMOVE_ITEM names "")
list(SORT names)
set(expected "LICENSE.txt;README.txt;mpqadd.exe;veltrane.exe")
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "package holds [${names}], expected [${expected}]")
endif()
file(SIZE ${PACKAGE} size)
message(STATUS "${PACKAGE}: ${size} bytes")
