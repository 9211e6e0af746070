# Driven by the install_io_package test: installs the build into a scratch
# prefix, then builds and runs consumer/ (find_package(QelChartCore CONFIG
# REQUIRED COMPONENTS IO)) against it, and through pkg-config, and checks
# that a component the package does not have is refused with a message.
cmake_minimum_required(VERSION 3.25)

set(prefix "${QEL_WORK_DIR}/prefix")
set(build "${QEL_WORK_DIR}/consumer-build")
file(REMOVE_RECURSE "${prefix}" "${build}" "${QEL_WORK_DIR}/refused" "${QEL_WORK_DIR}/pkg-config-build")

include("${CMAKE_CURRENT_LIST_DIR}/../install/RunStep.cmake")

set(config_args)
set(build_type_arg)
if(QEL_CONFIG)
  set(config_args --config "${QEL_CONFIG}")
  set(build_type_arg "-DCMAKE_BUILD_TYPE=${QEL_CONFIG}")
endif()
qel_run_step("install" "${CMAKE_COMMAND}" --install "${QEL_BUILD_DIR}" --prefix "${prefix}" ${config_args})
foreach(header QelChartCore.h QelChartIO.h)
  file(GLOB_RECURSE found "${prefix}/include/${header}")
  if(NOT found)
    message(FATAL_ERROR "${header} is not installed under ${prefix}/include")
  endif()
endforeach()

set(consumer_args
  -G "${QEL_GENERATOR}"
  "-DCMAKE_PREFIX_PATH=${prefix}"
  "-DCMAKE_CXX_COMPILER=${QEL_CXX_COMPILER}"
  "-DCMAKE_CXX_FLAGS=${QEL_CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${QEL_LINK_FLAGS}"
  ${build_type_arg})
qel_run_step("configure consumer" "${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}/consumer" -B "${build}"
  ${consumer_args})
qel_run_step("build consumer" "${CMAKE_COMMAND}" --build "${build}" ${config_args})
find_program(consumer io_consumer PATHS "${build}" "${build}/${QEL_CONFIG}" NO_DEFAULT_PATH REQUIRED)
qel_run_step("run consumer" "${consumer}")
message(STATUS "${step_output}")

# A component the package lacks must fail the find_package, and say why.
file(WRITE "${QEL_WORK_DIR}/refused/CMakeLists.txt"
  "cmake_minimum_required(VERSION 3.25)\nproject(Refused CXX)\n"
  "find_package(QelChartCore CONFIG REQUIRED COMPONENTS IO Plotting)\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${QEL_WORK_DIR}/refused" -B "${QEL_WORK_DIR}/refused/build"
    "-DCMAKE_PREFIX_PATH=${prefix}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(result EQUAL 0 OR NOT output MATCHES "no component 'Plotting'")
  message(FATAL_ERROR "an unknown component was not refused clearly (${result}):\n${output}")
endif()
message(STATUS "unknown component refused: ok")

# The same client built from what `pkg-config QelChartIO` says (the core's
# libraries come through its Requires), finding the libraries through an
# rpath, and run.
if(NOT EXISTS "${QEL_PKG_CONFIG}")
  message(FATAL_ERROR "pkg-config was not found when this build was configured: install it and configure again")
endif()
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} "${prefix}/${QEL_LIBDIR}/pkgconfig")
qel_run_step("pkg-config" "${QEL_PKG_CONFIG}" --cflags --libs QelChartIO)
separate_arguments(pkg_config_flags UNIX_COMMAND "${step_output}")
separate_arguments(cxx_flags UNIX_COMMAND "${QEL_CXX_FLAGS} ${QEL_LINK_FLAGS}")
set(pkg_config_exe "${QEL_WORK_DIR}/pkg-config-build/io_consumer")
file(MAKE_DIRECTORY "${QEL_WORK_DIR}/pkg-config-build")
qel_run_step("build consumer with pkg-config"
  "${QEL_CXX_COMPILER}" -std=c++17 ${cxx_flags} "${CMAKE_CURRENT_LIST_DIR}/consumer/main.cpp"
    ${pkg_config_flags} "-Wl,-rpath,${prefix}/${QEL_LIBDIR}" -o "${pkg_config_exe}")
qel_run_step("run consumer built with pkg-config" "${pkg_config_exe}")
message(STATUS "${step_output}")
