# Driven by the install_package test: cmake -D... -P RunInstallTest.cmake.
# Everything goes under QEL_WORK_DIR and is removed first, so a header or a
# library left over from an earlier run can never make the test pass.
cmake_minimum_required(VERSION 3.25)

foreach(var QEL_BUILD_DIR QEL_SOURCE_DIR QEL_WORK_DIR QEL_GENERATOR QEL_CXX_COMPILER)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "RunInstallTest.cmake needs -D ${var}=...")
  endif()
endforeach()

set(prefix "${QEL_WORK_DIR}/prefix")
set(consumer_build "${QEL_WORK_DIR}/consumer-build")
file(REMOVE_RECURSE "${prefix}" "${consumer_build}")

# Runs one step and stops the test with its output when it fails.
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

set(config_args)
if(QEL_CONFIG)
  set(config_args --config "${QEL_CONFIG}")
endif()

qel_run_step("install"
  "${CMAKE_COMMAND}" --install "${QEL_BUILD_DIR}" --prefix "${prefix}" ${config_args})

# Every public header of the three libraries must be installed, not only those
# the umbrella header happens to reach.
file(GLOB source_headers
  "${QEL_SOURCE_DIR}/platform/*.h"
  "${QEL_SOURCE_DIR}/core/*.h"
  "${QEL_SOURCE_DIR}/core/accessors/*.h")
set(missing)
foreach(header IN LISTS source_headers)
  get_filename_component(name "${header}" NAME)
  if(NOT EXISTS "${prefix}/include/QelChart/${name}")
    list(APPEND missing "${name}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "headers not installed into include/QelChart: ${missing}")
endif()
list(LENGTH source_headers header_count)
message(STATUS "headers installed: ${header_count}")

set(build_type_arg)
if(QEL_CONFIG)
  set(build_type_arg "-DCMAKE_BUILD_TYPE=${QEL_CONFIG}")
endif()
qel_run_step("configure consumer"
  "${CMAKE_COMMAND}"
    -S "${CMAKE_CURRENT_LIST_DIR}/consumer"
    -B "${consumer_build}"
    -G "${QEL_GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${prefix}"
    "-DCMAKE_CXX_COMPILER=${QEL_CXX_COMPILER}"
    "-DCMAKE_CXX_FLAGS=${QEL_CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${QEL_LINK_FLAGS}"
    ${build_type_arg})

# A package found anywhere else (a system install, a stale prefix) would make
# the rest of the test prove nothing.
file(STRINGS "${consumer_build}/CMakeCache.txt" found_dir REGEX "^QelChartCore_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found_dir "${found_dir}")
string(FIND "${found_dir}" "${prefix}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "the consumer found QelChartCore in '${found_dir}', not under '${prefix}'")
endif()

qel_run_step("build consumer"
  "${CMAKE_COMMAND}" --build "${consumer_build}" ${config_args})

find_program(consumer_exe consumer
  PATHS "${consumer_build}" "${consumer_build}/${QEL_CONFIG}"
  NO_DEFAULT_PATH REQUIRED)
qel_run_step("run consumer" "${consumer_exe}")
message(STATUS "${step_output}")
