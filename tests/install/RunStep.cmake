# qel_run_step(<what> <command...>): runs one step of a packaging test and
# stops the test with the step's output when it fails; the output is left in
# step_output.
function(qel_run_step what)
  execute_process(COMMAND ${ARGN}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${output}")
  endif()
  message(STATUS "${what}: ok")
  set(step_output "${output}" PARENT_SCOPE)
endfunction()
