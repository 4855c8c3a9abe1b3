include(CMakePackageConfigHelpers)

install(TARGETS zpapi EXPORT zpapiTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT zpapiTargets NAMESPACE zpapi:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zpapi)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zpapiConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zpapiConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zpapi)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zpapiConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zpapiConfig.cmake ${PROJECT_BINARY_DIR}/zpapiConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zpapi)

# The pkg-config file finds the prefix from its own place (lib/pkgconfig or
# lib/<multiarch>/pkgconfig).
file(RELATIVE_PATH ZPAPI_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zpapi.pc.in ${PROJECT_BINARY_DIR}/zpapi.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zpapi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
