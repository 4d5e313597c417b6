# `cmake --install`: the engine's headers, its static library and a package config, so another
# CMake project can `find_package(tessel_client)` and link `tessel_client::tessel_client`.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TESSEL_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tessel_client)

install(TARGETS tessel_client
  EXPORT tessel_clientTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The public header reaches into every subsystem's headers, so all of them are installed.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/tessel_client/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tessel_client
  FILES_MATCHING PATTERN "*.hpp")

install(EXPORT tessel_clientTargets
  NAMESPACE tessel_client::
  DESTINATION ${TESSEL_CMAKE_INSTALL_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tessel_clientConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tessel_clientConfig.cmake
  INSTALL_DESTINATION ${TESSEL_CMAKE_INSTALL_DIR})
# Before 1.0 a minor release may change the API.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tessel_clientConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/tessel_clientConfig.cmake
  ${PROJECT_BINARY_DIR}/tessel_clientConfigVersion.cmake
  DESTINATION ${TESSEL_CMAKE_INSTALL_DIR})
