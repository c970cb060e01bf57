# cmake --install: the shared library, the public headers under include/taviron/, the CMake
# package (find_package(Taviron) gives Taviron::taviron), the pkg-config file taviron.pc, and the
# default font list with its font server.
include(CMakePackageConfigHelpers)

install(TARGETS taviron EXPORT TavironTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
file(GLOB TAVIRON_PUBLIC_HEADERS CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/include/*.h ${PROJECT_SOURCE_DIR}/lower/include/*.h
  ${PROJECT_SOURCE_DIR}/platform/include/*.h)
install(FILES ${TAVIRON_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/taviron)

set(TAVIRON_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Taviron)
install(EXPORT TavironTargets NAMESPACE Taviron:: DESTINATION ${TAVIRON_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TavironConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TavironConfig.cmake INSTALL_DESTINATION ${TAVIRON_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TavironConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TavironConfig.cmake ${PROJECT_BINARY_DIR}/TavironConfigVersion.cmake
  DESTINATION ${TAVIRON_CMAKE_DIR})

# The pkg-config file finds its prefix from its own place, so the tree can be installed anywhere.
set(TAVIRON_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH TAVIRON_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${TAVIRON_PC_DIR} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" TAVIRON_PC_TO_PREFIX "${TAVIRON_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/taviron.pc.in ${PROJECT_BINARY_DIR}/taviron.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/taviron.pc DESTINATION ${TAVIRON_PC_DIR})

install(FILES ${PROJECT_SOURCE_DIR}/plugins/freetype/dejavu.fdb DESTINATION ${TAVIRON_FONT_INSTALL_DIR})
install(TARGETS freetype_server LIBRARY DESTINATION ${TAVIRON_FONT_SERVERS_INSTALL_DIR})
