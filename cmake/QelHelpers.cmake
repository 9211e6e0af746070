# Helpers shared by every target this project builds.
#
# How a library registers (see qel_add_library below): it lists its sources,
# its public headers and its internal headers, and names its umbrella header
# if it has one. That alone
#   - lays its public headers out in the build tree as they are installed,
#     under ${QEL_INCLUDE_DIR}/QelChart/, and its umbrella under
#     ${QEL_INCLUDE_DIR}/, so that in-tree and embedding users write the
#     same #include lines as users of the installed package;
#   - installs them the same way (include/QelChart/ and include/), with the
#     library, into the CMake package (cmake/QelInstall.cmake);
#   - hands them to the docs target (cmake/QelDocs.cmake).
# Public headers include each other, across libraries too, by bare name in
# quotes ("Node.h"): installed, that finds the sibling in the same directory
# before any directory of the client's, so a client header of the same name
# cannot stand in for it. Every header shares include/QelChart/, so header
# names must be unique across the libraries; registration checks that.
#
# A new library, in its own directory added from the top-level CMakeLists.txt
# before the install rules are included:
#   qel_add_library(qelchartio Qel::ChartIO
#     EXPORT_NAME ChartIO
#     UMBRELLA QelChartIO.h
#     SOURCES ...
#     HEADERS QelChartIO.h ...
#     INTERNAL_HEADERS ...)
#   target_link_libraries(qelchartio PUBLIC Qel::ChartCore ...)
# What it needs from outside the package, the package config must find for
# its clients (find_dependency in QelChartCoreConfig.cmake.in).
# QelChartCore.pc names the three core libraries only.

include(GNUInstallDirs)

# The build tree's picture of include/: what the libraries export to in-tree
# users instead of their source directories.
set(QEL_INCLUDE_DIR "${PROJECT_BINARY_DIR}/include")

# The source directories of every library, for the libraries' own sources
# and for the tests, which include headers by bare name. Never exported.
add_library(qel_source_headers INTERFACE)

# Warnings are applied per target so that consumers of the installed package
# never inherit them.
function(qel_enable_warnings target)
  if(QEL_WARNINGS)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  endif()
  if(QEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Sanitizers are global: a sanitized test that links unsanitized libraries
# would miss every fault inside them.
macro(qel_setup_sanitizers)
  if(QEL_SANITIZE AND QEL_SANITIZE_THREAD)
    message(FATAL_ERROR "QEL_SANITIZE and QEL_SANITIZE_THREAD exclude each other")
  endif()
  if(QEL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
  endif()
  if(QEL_SANITIZE_THREAD)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
  endif()
endmacro()

# qel_add_library(<target> <alias>
#   EXPORT_NAME <name>            name in the package: Qel::<name>
#   SOURCES <file>...
#   HEADERS <file>...             public: installed into include/QelChart/
#   [INTERNAL_HEADERS <file>...]  used by the sources only, never installed
#   [UMBRELLA <file>])            one of HEADERS, also reachable as <file>
#
# One shared library with its namespaced alias; users always link the alias.
# Every .h and .cpp in the directories of the listed files must be listed by
# some library: a file added but forgotten stops the configure instead of
# going missing from the library or the install.
function(qel_add_library target alias)
  cmake_parse_arguments(ARG "" "EXPORT_NAME;UMBRELLA" "SOURCES;HEADERS;INTERNAL_HEADERS" ${ARGN})
  foreach(list SOURCES HEADERS INTERNAL_HEADERS UMBRELLA)
    list(TRANSFORM ARG_${list} PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/" REGEX "^[^/]")
  endforeach()
  set_property(GLOBAL APPEND PROPERTY QEL_LISTED_FILES ${ARG_SOURCES} ${ARG_HEADERS} ${ARG_INTERNAL_HEADERS})

  add_library(${target} SHARED ${ARG_SOURCES} ${ARG_HEADERS} ${ARG_INTERNAL_HEADERS})
  add_library(${alias} ALIAS ${target})
  # Before 1.0 a minor version may break the ABI, so the soname carries it.
  if(PROJECT_VERSION_MAJOR EQUAL 0)
    set(soversion "0.${PROJECT_VERSION_MINOR}")
  else()
    set(soversion "${PROJECT_VERSION_MAJOR}")
  endif()
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${soversion}
    EXPORT_NAME ${ARG_EXPORT_NAME}
    PUBLIC_HEADER "${ARG_HEADERS}")
  # Clients compile the headers, so they need the standard the headers are
  # written in, whatever their own default.
  target_compile_features(${target} PUBLIC cxx_std_17)

  set(source_dirs)
  foreach(file IN LISTS ARG_HEADERS ARG_INTERNAL_HEADERS)
    cmake_path(GET file PARENT_PATH dir)
    list(APPEND source_dirs "${dir}")
  endforeach()
  list(REMOVE_DUPLICATES source_dirs)
  target_include_directories(qel_source_headers INTERFACE ${source_dirs})
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:qel_source_headers>)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${QEL_INCLUDE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

  _qel_lay_out_headers(${target} "${ARG_UMBRELLA}" ${ARG_HEADERS})

  # Exported functions are not interposed by design, so calls between them
  # inside a library may be direct and inlined instead of going through the PLT.
  target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  # The same between the library's own files: the linker binds their calls
  # to each other directly (a node's constructor and destructor call the
  # tables' and the list's, a walk the node's). Data symbols (the public
  # counters) stay interposable, as executables may copy them.
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic-functions)
  # __FILE__ (the mutex's error texts) and debug information name files
  # relative to the source tree, not to wherever it was built.
  target_compile_options(${target} PRIVATE
    "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/="
    "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=")
  # A missing symbol should fail when the library links, not when it loads.
  if(NOT QEL_SANITIZE AND NOT QEL_SANITIZE_THREAD)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  qel_enable_warnings(${target})

  set_property(GLOBAL APPEND PROPERTY QEL_LIBRARIES ${target})
endfunction()

# Fails when a header or source in the directories of the libraries' files is
# listed by none of them.
function(_qel_check_listed)
  get_property(listed GLOBAL PROPERTY QEL_LISTED_FILES)
  set(dirs)
  foreach(file IN LISTS listed)
    cmake_path(GET file PARENT_PATH dir)
    list(APPEND dirs "${dir}")
  endforeach()
  list(REMOVE_DUPLICATES dirs)
  set(unlisted)
  foreach(dir IN LISTS dirs)
    file(GLOB present CONFIGURE_DEPENDS "${dir}/*.h" "${dir}/*.cpp")
    foreach(file IN LISTS present)
      if(NOT file IN_LIST listed)
        cmake_path(RELATIVE_PATH file BASE_DIRECTORY "${PROJECT_SOURCE_DIR}")
        list(APPEND unlisted "${file}")
      endif()
    endforeach()
  endforeach()
  if(unlisted)
    list(JOIN unlisted ", " unlisted)
    message(FATAL_ERROR "qel_add_library: list ${unlisted} in the SOURCES, HEADERS or INTERNAL_HEADERS of a library")
  endif()
endfunction()

# Links each public header into ${QEL_INCLUDE_DIR}/QelChart/ and writes the
# umbrella's forwarder into ${QEL_INCLUDE_DIR}/. Links, not copies: an edit to
# a source header is seen at once, and a compiler message names a path that
# leads to the file to edit.
function(_qel_lay_out_headers target umbrella)
  get_property(taken GLOBAL PROPERTY QEL_HEADER_NAMES)
  file(MAKE_DIRECTORY "${QEL_INCLUDE_DIR}/QelChart")
  foreach(header IN LISTS ARGN)
    cmake_path(GET header FILENAME name)
    if(name IN_LIST taken)
      message(FATAL_ERROR "${target}: a header named ${name} is already public; include/QelChart/ is shared")
    endif()
    list(APPEND taken "${name}")
    file(CREATE_LINK "${header}" "${QEL_INCLUDE_DIR}/QelChart/${name}" SYMBOLIC)
  endforeach()
  set_property(GLOBAL PROPERTY QEL_HEADER_NAMES "${taken}")

  if(umbrella)
    cmake_path(GET umbrella FILENAME name)
    if(NOT umbrella IN_LIST ARGN)
      message(FATAL_ERROR "${target}: the umbrella ${umbrella} must be one of HEADERS")
    endif()
    # Quotes: the forwarder finds QelChart/ beside itself before any
    # directory of the client's.
    file(CONFIGURE OUTPUT "${QEL_INCLUDE_DIR}/${name}"
      CONTENT "// Generated by the build: the umbrella header lives beside the headers it includes.\n#include \"QelChart/${name}\"\n")
    set_property(GLOBAL APPEND PROPERTY QEL_UMBRELLAS "${QEL_INCLUDE_DIR}/${name}")
  endif()
endfunction()

# Removes what an earlier configure laid out and this one did not (a header
# renamed or made internal), so that the build tree cannot offer a header
# that the installed package lacks.
function(_qel_prune_include_dir)
  get_property(names GLOBAL PROPERTY QEL_HEADER_NAMES)
  file(GLOB laid_out "${QEL_INCLUDE_DIR}/QelChart/*")
  foreach(file IN LISTS laid_out)
    cmake_path(GET file FILENAME name)
    if(NOT name IN_LIST names)
      file(REMOVE "${file}")
    endif()
  endforeach()
  get_property(umbrellas GLOBAL PROPERTY QEL_UMBRELLAS)
  file(GLOB laid_out LIST_DIRECTORIES false "${QEL_INCLUDE_DIR}/*")
  foreach(file IN LISTS laid_out)
    if(NOT file IN_LIST umbrellas)
      file(REMOVE "${file}")
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY "${PROJECT_SOURCE_DIR}" CALL _qel_check_listed)
cmake_language(DEFER DIRECTORY "${PROJECT_SOURCE_DIR}" CALL _qel_prune_include_dir)
