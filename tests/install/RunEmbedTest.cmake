# Driven by the embed_source_tree test: cmake -D... -P RunEmbedTest.cmake.
# Configures embedder/ with an empty build type, which must stay empty, then
# builds and runs its client. Starts from an empty directory every time.
cmake_minimum_required(VERSION 3.25)

foreach(var QEL_SOURCE_DIR QEL_WORK_DIR QEL_GENERATOR QEL_CXX_COMPILER)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "RunEmbedTest.cmake needs -D ${var}=...")
  endif()
endforeach()
include("${CMAKE_CURRENT_LIST_DIR}/RunStep.cmake")

set(build "${QEL_WORK_DIR}/embedder-build")
file(REMOVE_RECURSE "${build}")

qel_run_step("configure embedder"
  "${CMAKE_COMMAND}"
    -S "${CMAKE_CURRENT_LIST_DIR}/embedder"
    -B "${build}"
    -G "${QEL_GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${QEL_CXX_COMPILER}"
    "-DCMAKE_BUILD_TYPE="
    "-DQEL_SOURCE_DIR=${QEL_SOURCE_DIR}")
qel_run_step("build embedder" "${CMAKE_COMMAND}" --build "${build}")
qel_run_step("run embedder" "${build}/embedder")
message(STATUS "${step_output}")
