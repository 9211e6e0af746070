# Driven by the install_package test: cmake -D... -P RunInstallTest.cmake.
# Everything goes under QEL_WORK_DIR and is removed first, so a header or a
# library left over from an earlier run can never make the test pass.
cmake_minimum_required(VERSION 3.25)

foreach(var QEL_BUILD_DIR QEL_WORK_DIR QEL_GENERATOR QEL_CXX_COMPILER QEL_LIBDIR)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "RunInstallTest.cmake needs -D ${var}=...")
  endif()
endforeach()
if(NOT EXISTS "${QEL_PKG_CONFIG}")
  message(FATAL_ERROR "pkg-config was not found when this build was configured: install it and configure again")
endif()

set(prefix "${QEL_WORK_DIR}/prefix")
set(consumer_build "${QEL_WORK_DIR}/consumer-build")
set(pkg_config_build "${QEL_WORK_DIR}/pkg-config-build")
file(REMOVE_RECURSE "${prefix}" "${consumer_build}" "${pkg_config_build}")

include("${CMAKE_CURRENT_LIST_DIR}/RunStep.cmake")

set(config_args)
if(QEL_CONFIG)
  set(config_args --config "${QEL_CONFIG}")
endif()

qel_run_step("install"
  "${CMAKE_COMMAND}" --install "${QEL_BUILD_DIR}" --prefix "${prefix}" ${config_args})

# The install tree's include/ must be the build tree's picture of it, no
# more (an internal header) and no less (a header left out).
foreach(dir "" "QelChart/")
  file(GLOB built LIST_DIRECTORIES false RELATIVE "${QEL_BUILD_DIR}/include" "${QEL_BUILD_DIR}/include/${dir}*")
  file(GLOB installed LIST_DIRECTORIES false RELATIVE "${prefix}/include" "${prefix}/include/${dir}*")
  if(NOT built STREQUAL installed)
    message(FATAL_ERROR "include/${dir} holds ${installed}\nthe build tree has ${built}")
  endif()
endforeach()
set(doc_dir "${prefix}/share/doc/QelChartCore")
foreach(file LICENSE README.md CHANGELOG.md)
  if(NOT EXISTS "${doc_dir}/${file}")
    message(FATAL_ERROR "share/doc/QelChartCore/${file} is not installed")
  endif()
endforeach()
# Every page the installed README links to is installed where the link
# points.
file(READ "${doc_dir}/README.md" readme)
# "](" marks a link; brackets would split a CMake list oddly, so it becomes
# a plain marker first.
string(REPLACE "](" "@link@" readme "${readme}")
string(REGEX MATCHALL "@link@[^) #:]+[)#]" links "${readme}")
foreach(link IN LISTS links)
  string(REGEX REPLACE "^@link@|[)#]$" "" target "${link}")
  if(NOT EXISTS "${doc_dir}/${target}")
    message(FATAL_ERROR "the installed README links to ${target}, which is not installed beside it")
  endif()
endforeach()

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

# The same client built by hand from what pkg-config says, as a Makefile
# would. pkg-config does not carry a language standard: the client names it.
# The prefix alone: a QelChartCore.pc elsewhere must not be found. No rpath:
# the program finds the libraries of a prefix outside the loader's path
# through LD_LIBRARY_PATH, as the README says (install_io_package takes the
# rpath way).
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} "${prefix}/${QEL_LIBDIR}/pkgconfig")
qel_run_step("pkg-config" "${QEL_PKG_CONFIG}" --cflags --libs QelChartCore)
separate_arguments(pkg_config_flags UNIX_COMMAND "${step_output}")
separate_arguments(cxx_flags UNIX_COMMAND "${QEL_CXX_FLAGS} ${QEL_LINK_FLAGS}")
set(consumer_source "${CMAKE_CURRENT_LIST_DIR}/consumer")
file(MAKE_DIRECTORY "${pkg_config_build}")
qel_run_step("build consumer with pkg-config"
  "${QEL_CXX_COMPILER}" -std=c++17 ${cxx_flags} -I "${consumer_source}/include"
    "${consumer_source}/main.cpp" "${consumer_source}/NodeHeader.cpp"
    ${pkg_config_flags} -o "${pkg_config_build}/consumer")
qel_run_step("run consumer built with pkg-config"
  "${CMAKE_COMMAND}" -E env "LD_LIBRARY_PATH=${prefix}/${QEL_LIBDIR}" "${pkg_config_build}/consumer")
message(STATUS "${step_output}")

# The Python module, when it is built: imported with PYTHONPATH alone set
# to the prefix's site directory (the README's instruction), in an
# environment without the build tree.
if(QEL_PYTHON)
  set(preload)
  if(QEL_PYTHON_PRELOAD)
    set(preload "LD_PRELOAD=${QEL_PYTHON_PRELOAD}" "ASAN_OPTIONS=detect_leaks=0")
  endif()
  qel_run_step("import the installed qelchart"
    "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH "PYTHONPATH=${prefix}/${QEL_PYTHON_DIR}" ${preload}
      "${QEL_PYTHON}" -c "import qelchart\nclass A(qelchart.Node): x = qelchart.Property(int, 1)\nassert A().x == 1\nprint(qelchart.__file__)")
  string(FIND "${step_output}" "${prefix}/" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "qelchart was imported from '${step_output}', not from under '${prefix}'")
  endif()
endif()
