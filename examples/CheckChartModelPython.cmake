# Driven by the example_chart_model_python test:
#   cmake -D PYTHON=<interpreter> -D PYTHONPATH=<dir> -D EXAMPLE=<chart_model.py> -P CheckChartModelPython.cmake
# Runs the Python example and checks the facts it reports, leaving its wording free.
cmake_minimum_required(VERSION 3.25)

foreach(variable PYTHON PYTHONPATH EXAMPLE)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "CheckChartModelPython.cmake needs -D ${variable}=...")
  endif()
endforeach()

# PRELOAD: the sanitizers' runtimes, for the sanitized build.
set(preload)
if(PRELOAD)
  set(preload "LD_PRELOAD=${PRELOAD}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env "PYTHONPATH=${PYTHONPATH}" ${preload} "${PYTHON}" "${EXAMPLE}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)

set(problems)
if(NOT result EQUAL 0)
  list(APPEND problems "exit code ${result}, expected 0")
endif()

# <what> <regular expression>
function(qel_expect what regex)
  if(NOT output MATCHES "${regex}")
    set(problems ${problems} "missing: ${what}" PARENT_SCOPE)
  endif()
endfunction()

qel_expect("the refused cycle" "CycleError: Cyclic Dependency : [^\n]+")
qel_expect("the refused value type" "TypeError: [^\n]+")
qel_expect("the damaged document refused at its place" "LoadError: at \"/nodes/[0-9]+/[^\"\n]*\": [^\n]+")
qel_expect("no nodes left" "live nodes left = 0\n")
if(output MATCHES "UNEXPECTED|Traceback")
  list(APPEND problems "the example reported an UNEXPECTED result or raised")
endif()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "chart_model.py:\n  ${text}\n--- output ---\n${output}")
endif()
message(STATUS "chart_model.py: ok")
