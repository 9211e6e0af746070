# Driven by the example_chart_model test: cmake -D EXAMPLE=<program> -P CheckChartModel.cmake.
# Runs the example and checks the facts it reports, leaving its wording free.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED EXAMPLE OR NOT EXISTS "${EXAMPLE}")
  message(FATAL_ERROR "CheckChartModel.cmake needs -D EXAMPLE=<path of chart_model>")
endif()

# Trace lines go to stderr; both streams are checked together.
execute_process(COMMAND "${EXAMPLE}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)

include(${CMAKE_CURRENT_LIST_DIR}/ExampleChecks.cmake)

qel_expect("the refused cycle" "Cyclic Dependency : [^\n]+")
qel_expect("the deletion trace line" "delete node id\\([0-9]+\\) type\\([0-9]+\\) : count = [0-9]+")
qel_expect("the damaged document refused at its place" "LoadError: at \"/nodes/[0-9]+/[^\"\n]*\": [^\n]+")
qel_expect("the undo heard once with the old value" "max OnChanged: [0-9.]+\n")
qel_expect("the watchers saw the undo" "watchers saw the undo on: [^\n]+")
qel_expect("the undone transaction waits to be redone" "redo available: \"[^\"\n]+\"")
qel_expect("no nodes left" "Node::_debugNodeCount *= 0\n")
qel_expect("no node memory left" "Node::_debugNodeMemUsage *= 0\n")
qel_expect("no tracked bytes left" "bytes_in_use\\(\\) *= 0\n")
qel_report("chart_model" "UNEXPECTED")
