# SPDX-License-Identifier: MIT
# Developer targets, top level only: the API reference and the ABI baseline.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

# velkmock_docs: the HTML reference of the public header. Any Doxygen
# warning fails the build, so every function, parameter, return value, record
# and field stays documented.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  set(VELKMOCK_DOXYGEN_OUT ${PROJECT_BINARY_DIR}/docs)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)
  add_custom_target(velkmock_docs
    COMMAND ${DOXYGEN_EXECUTABLE} ${PROJECT_BINARY_DIR}/Doxyfile
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Building the API reference in ${VELKMOCK_DOXYGEN_OUT}/html"
    VERBATIM)
endif()

# velkmock_abi_update: rewrites abi/libvelkmock.abi from the built library
# with exactly the dump that CI compares against (abi/dump).
add_custom_target(velkmock_abi_update
  COMMAND ${PROJECT_SOURCE_DIR}/abi/dump $<TARGET_FILE:velkmock> ${PROJECT_SOURCE_DIR}/abi/libvelkmock.abi
  DEPENDS velkmock
  COMMENT "Regenerating abi/libvelkmock.abi"
  VERBATIM)
