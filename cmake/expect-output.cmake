# Runs a test command and passes only when the command exits with 0 (or with
# EXPECTED_CODE where given) and its output (standard output and error merged,
# in order) matches the pattern in the file PATTERN_FILE. ctest's own
# PASS_REGULAR_EXPRESSION ignores the exit code, so a program that crashed
# after printing its pass line would pass.
#   cmake -DPATTERN_FILE=<file> [-DEXPECTED_CODE=<n>] -P expect-output.cmake -- <command> <args...>
set(_command "")
set(_seen_separator FALSE)
math(EXPR _last "${CMAKE_ARGC} - 1")
foreach(_i RANGE 0 ${_last})
  if(_seen_separator)
    list(APPEND _command "${CMAKE_ARGV${_i}}")
  elseif("${CMAKE_ARGV${_i}}" STREQUAL "--")
    set(_seen_separator TRUE)
  endif()
endforeach()
if(NOT _command OR NOT EXISTS "${PATTERN_FILE}")
  message(FATAL_ERROR "expect-output: usage: cmake -DPATTERN_FILE=<file> -P expect-output.cmake -- <command...>")
endif()
file(READ "${PATTERN_FILE}" _pattern)
if(NOT DEFINED EXPECTED_CODE)
  set(EXPECTED_CODE 0)
endif()

execute_process(COMMAND ${_command} OUTPUT_VARIABLE _output ERROR_VARIABLE _output RESULT_VARIABLE _code)
message("${_output}")
if(NOT "${_code}" STREQUAL "${EXPECTED_CODE}")
  message(FATAL_ERROR "expect-output: the command ended with ${_code}, not ${EXPECTED_CODE}")
endif()
if(NOT _output MATCHES "${_pattern}")
  message(FATAL_ERROR "expect-output: the output does not match the expected pattern:\n${_pattern}")
endif()
