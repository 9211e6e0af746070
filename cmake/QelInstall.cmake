# Install rules and the CMake package: find_package(QelChartCore CONFIG).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QEL_CONFIG_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/QelChartCore")

set(QEL_INSTALLED_TARGETS qeldebug qelchartutility qelchartcore)
# Qel::ChartIO, the package's component IO, when it is built. Its one
# header, the umbrella QelChartIO.h, goes where QelChartCore.h goes.
if(TARGET qelchartio)
  list(APPEND QEL_INSTALLED_TARGETS qelchartio)
  set(QEL_PACKAGE_HAS_IO TRUE)
else()
  set(QEL_PACKAGE_HAS_IO FALSE)
endif()

# install(TARGETS) reads relative PUBLIC_HEADER entries against this
# directory, not the one that listed them; anchor them where they were listed.
foreach(target IN LISTS QEL_INSTALLED_TARGETS)
  get_target_property(headers ${target} PUBLIC_HEADER)
  get_target_property(dir ${target} SOURCE_DIR)
  set(anchored)
  foreach(header IN LISTS headers)
    cmake_path(ABSOLUTE_PATH header BASE_DIRECTORY "${dir}")
    list(APPEND anchored "${header}")
  endforeach()
  # $ORIGIN: an installed library finds its installed siblings wherever the
  # prefix is, even when the program links only the core.
  set_target_properties(${target} PROPERTIES
    PUBLIC_HEADER "${anchored}"
    INSTALL_RPATH "$ORIGIN")
endforeach()

install(TARGETS ${QEL_INSTALLED_TARGETS}
  EXPORT QelChartCoreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/QelChart
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/QelChart)

install(EXPORT QelChartCoreTargets
  NAMESPACE Qel::
  DESTINATION ${QEL_CONFIG_DIR})

configure_package_config_file(
  "${PROJECT_SOURCE_DIR}/cmake/QelChartCoreConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/QelChartCoreConfig.cmake"
  INSTALL_DESTINATION ${QEL_CONFIG_DIR})
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/QelChartCoreConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/QelChartCoreConfig.cmake"
  "${PROJECT_BINARY_DIR}/QelChartCoreConfigVersion.cmake"
  DESTINATION ${QEL_CONFIG_DIR})
