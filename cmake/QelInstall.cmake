# Install rules and the CMake package: find_package(QelChartCore CONFIG).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QEL_CONFIG_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/QelChartCore")

install(TARGETS qeldebug qelchartutility qelchartcore
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
