# Install rules and the packages: find_package(QelChartCore CONFIG) and
# pkg-config's QelChartCore and QelChartIO. Every library registered by
# qel_add_library is installed with its public headers in include/QelChart/
# and its umbrella in include/.
include(CMakePackageConfigHelpers)

set(QEL_CONFIG_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/QelChartCore")

get_property(QEL_INSTALLED_TARGETS GLOBAL PROPERTY QEL_LIBRARIES)
get_property(QEL_INSTALLED_UMBRELLAS GLOBAL PROPERTY QEL_UMBRELLAS)
# Qel::ChartIO, the package's component IO, is among them when it is built.
if(TARGET qelchartio)
  set(QEL_PACKAGE_HAS_IO TRUE)
else()
  set(QEL_PACKAGE_HAS_IO FALSE)
endif()

# $ORIGIN: an installed library finds its installed siblings wherever the
# prefix is, even when the program links only the core.
set_target_properties(${QEL_INSTALLED_TARGETS} PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS ${QEL_INSTALLED_TARGETS}
  EXPORT QelChartCoreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/QelChart)
install(FILES ${QEL_INSTALLED_UMBRELLAS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT QelChartCoreTargets
  NAMESPACE Qel::
  DESTINATION ${QEL_CONFIG_DIR})

configure_package_config_file(
  "${PROJECT_SOURCE_DIR}/cmake/QelChartCoreConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/QelChartCoreConfig.cmake"
  INSTALL_DESTINATION ${QEL_CONFIG_DIR})
# Before 1.0 a minor version may break the API: 0.2 does not satisfy a
# request for 0.1.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(QEL_VERSION_COMPATIBILITY SameMinorVersion)
else()
  set(QEL_VERSION_COMPATIBILITY SameMajorVersion)
endif()
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/QelChartCoreConfigVersion.cmake"
  COMPATIBILITY ${QEL_VERSION_COMPATIBILITY})
install(FILES
  "${PROJECT_BINARY_DIR}/QelChartCoreConfig.cmake"
  "${PROJECT_BINARY_DIR}/QelChartCoreConfigVersion.cmake"
  DESTINATION ${QEL_CONFIG_DIR})

# pkg-config: the three libraries of this package. The prefix is the one
# installed to (cmake --install --prefix can differ from the configured one),
# so the file is written when it is installed. Boost is named only when it is
# not in a directory the compiler searches anyway.
set(QEL_PC_VERSION ${PROJECT_VERSION})
set(QEL_PC_CFLAGS "-I\${includedir}")
if(Boost_INCLUDE_DIRS AND NOT Boost_INCLUDE_DIRS IN_LIST CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  string(APPEND QEL_PC_CFLAGS " -I${Boost_INCLUDE_DIRS}")
endif()
set(QEL_PC_LIBS "-L\${libdir} -lqelchartcore -lqelchartutility -lqeldebug")
if(CMAKE_THREAD_LIBS_INIT)
  string(APPEND QEL_PC_LIBS " ${CMAKE_THREAD_LIBS_INIT}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QEL_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QEL_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
# qel_install_pc(<name>): cmake/<name>.pc.in, configured now with the
# prefix left as a placeholder that is filled in on install.
set(QEL_PC_PREFIX "@QEL_PC_PREFIX@")
function(qel_install_pc name)
  configure_file("${PROJECT_SOURCE_DIR}/cmake/${name}.pc.in" "${PROJECT_BINARY_DIR}/${name}.pc.in" @ONLY)
  install(CODE "
    file(READ \"${PROJECT_BINARY_DIR}/${name}.pc.in\" pc)
    string(REPLACE \"@QEL_PC_PREFIX@\" \"\${CMAKE_INSTALL_PREFIX}\" pc \"\${pc}\")
    file(WRITE \"${PROJECT_BINARY_DIR}/${name}.pc\" \"\${pc}\")
  ")
  install(FILES "${PROJECT_BINARY_DIR}/${name}.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
qel_install_pc(QelChartCore)
# QelChartIO: the IO library on top of QelChartCore. The JSON library is
# header-only; its directory is named like Boost's, only when needed.
if(QEL_PACKAGE_HAS_IO)
  set(QEL_PC_IO_CFLAGS "-I\${includedir}")
  get_property(qel_json_includes GLOBAL PROPERTY QEL_JSON_INCLUDE_DIRS)
  foreach(dir IN LISTS qel_json_includes)
    if(NOT dir IN_LIST CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
      string(APPEND QEL_PC_IO_CFLAGS " -I${dir}")
    endif()
  endforeach()
  qel_install_pc(QelChartIO)
endif()

# share/doc/QelChartCore: what a distribution ships beside the library.
install(FILES
  "${PROJECT_SOURCE_DIR}/LICENSE"
  "${PROJECT_SOURCE_DIR}/README.md"
  "${PROJECT_SOURCE_DIR}/CHANGELOG.md"
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The pages the README links to, where its relative links find them.
install(FILES
  "${PROJECT_SOURCE_DIR}/docs/errors.md"
  "${PROJECT_SOURCE_DIR}/docs/file-format.md"
  "${PROJECT_SOURCE_DIR}/docs/performance.md"
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
