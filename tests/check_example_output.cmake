# Runs one example program as a user would and fails unless it exits 0 and its output holds
# every expected text. cmake -DPROGRAM=... -DEXPECTED=<list> -P check_example_output.cmake
execute_process(COMMAND ${PROGRAM} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${rc}\n${out}${err}")
endif()
foreach(text IN LISTS EXPECTED)
  string(FIND "${out}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} did not print: ${text}\n${out}")
  endif()
endforeach()
