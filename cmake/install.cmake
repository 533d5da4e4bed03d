# SPDX-License-Identifier: MIT
# Installation and packages. Two components: "runtime" (the versioned
# libraries and their SONAME links) and "development" (headers, .so links,
# CMake package, pkg-config files, velkfault-run, velk-journal and velk-replay), and the same two for the
# shared store. Every installed path is relative to the prefix,
# so the tree can be installed, or unpacked, anywhere.
include(CMakePackageConfigHelpers)

set(VELKMOCK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/velkmock)

install(TARGETS velkmock EXPORT velkmockTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS velkmock_fault EXPORT velkmockTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/velkmock.h include/velkfault.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT development)
file(RELATIVE_PATH VELKFAULT_RUN_TO_LIBDIR /root/${CMAKE_INSTALL_BINDIR} /root/${CMAKE_INSTALL_LIBDIR})
set(VELKFAULT_RUN_LIBDIR "\"$(cd \"$(dirname \"$0\")/${VELKFAULT_RUN_TO_LIBDIR}\" && pwd)\"")
configure_file(tools/velkfault-run.in ${PROJECT_BINARY_DIR}/install/velkfault-run @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/install/velkfault-run DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT development)
if(VELKMOCK_HAVE_JOURNAL_TOOL)
  install(TARGETS velk_journal velk_replay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT development)
endif()
install(EXPORT velkmockTargets NAMESPACE velkmock:: DESTINATION ${VELKMOCK_CMAKE_DIR} COMPONENT development)
# The shared store is a package of its own (it needs hiredis; the mock needs
# nothing), with its own export set that the CMake package includes when it
# is there.
if(VELKMOCK_HAVE_SHARED)
  install(TARGETS velkmock_shared EXPORT velksharedTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT shared_runtime NAMELINK_COMPONENT shared_development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES include/velkshared.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT shared_development)
  install(TARGETS velkshared_ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT shared_development)
  # Throwaway servers for tests, and the CTest fixtures around them.
  install(PROGRAMS tools/velkshared-server DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT shared_development)
  install(FILES cmake/VelksharedTestServer.cmake DESTINATION ${VELKMOCK_CMAKE_DIR} COMPONENT shared_development)
  install(EXPORT velksharedTargets NAMESPACE velkmock:: DESTINATION ${VELKMOCK_CMAKE_DIR}
    COMPONENT shared_development)
endif()
configure_package_config_file(cmake/velkmockConfig.cmake.in
  ${PROJECT_BINARY_DIR}/velkmockConfig.cmake INSTALL_DESTINATION ${VELKMOCK_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_BINDIR)
# While the major version is 0, a new minor release may break the
# interface, so only the same major.minor counts as compatible.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/velkmockConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/velkmockConfig.cmake ${PROJECT_BINARY_DIR}/velkmockConfigVersion.cmake
  DESTINATION ${VELKMOCK_CMAKE_DIR} COMPONENT development)

# pkg-config files find their prefix from where they lie (${pcfiledir}).
file(RELATIVE_PATH VELKMOCK_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" VELKMOCK_PC_TO_PREFIX "${VELKMOCK_PC_TO_PREFIX}")
configure_file(cmake/velkmock.pc.in ${PROJECT_BINARY_DIR}/velkmock.pc @ONLY)
configure_file(cmake/velkfault.pc.in ${PROJECT_BINARY_DIR}/velkfault.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velkmock.pc ${PROJECT_BINARY_DIR}/velkfault.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
if(VELKMOCK_HAVE_SHARED)
  configure_file(cmake/velkshared.pc.in ${PROJECT_BINARY_DIR}/velkshared.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/velkshared.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT shared_development)
endif()

# Uninstall: removes what the last install wrote, as its manifest lists.
if(NOT TARGET velkmock_uninstall)
  add_custom_target(velkmock_uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake
    COMMENT "Removing the files listed in install_manifest.txt")
  if(PROJECT_IS_TOP_LEVEL AND NOT TARGET uninstall)
    add_custom_target(uninstall DEPENDS velkmock_uninstall)
  endif()
endif()

# Packages: a tarball of everything, and two Debian packages.
set(CPACK_PACKAGE_NAME velkmock)
set(CPACK_PACKAGE_VENDOR "The libvelkmock authors")
set(CPACK_PACKAGE_CONTACT "The libvelkmock authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_STRIP_FILES ON)  # the packaged library carries no debug information
set(CPACK_COMPONENTS_ALL runtime development)
if(VELKMOCK_HAVE_SHARED)
  list(APPEND CPACK_COMPONENTS_ALL shared_runtime shared_development)
endif()
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)  # one tarball with both
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvelkmock0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvelkmock-dev)
if(VELKMOCK_HAVE_JOURNAL_TOOL)
  # velk-journal and velk-replay read journals with it.
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libsimdjson14")
endif()
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "In-process mock of a distributed key-value cache client (shared library)")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "In-process mock of a distributed key-value cache client (development files)")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_DEBIAN_SHARED_RUNTIME_PACKAGE_NAME libvelkshared0)
set(CPACK_DEBIAN_SHARED_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_SHARED_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6, libhiredis0.14")
set(CPACK_DEBIAN_SHARED_DEVELOPMENT_PACKAGE_NAME libvelkshared-dev)
set(CPACK_COMPONENT_SHARED_RUNTIME_DESCRIPTION
  "The velk_ client interface with its store kept in a server that processes share (shared library)")
set(CPACK_COMPONENT_SHARED_DEVELOPMENT_DESCRIPTION
  "The velk_ client interface with its store kept in a server that processes share (development files)")
# velkshared.h includes velkmock.h; the CMake package file is libvelkmock-dev's.
set(CPACK_COMPONENT_SHARED_DEVELOPMENT_DEPENDS shared_runtime development)
include(CPack)
