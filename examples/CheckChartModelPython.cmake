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

include(${CMAKE_CURRENT_LIST_DIR}/ExampleChecks.cmake)

qel_expect("the refused cycle" "CycleError: Cyclic Dependency : [^\n]+")
qel_expect("the refused value type" "TypeError: [^\n]+")
qel_expect("the damaged document refused at its place" "LoadError: at \"/nodes/[0-9]+/[^\"\n]*\": [^\n]+")
qel_expect("no nodes left" "live nodes left = 0\n")
qel_report("chart_model.py" "UNEXPECTED|Traceback")
