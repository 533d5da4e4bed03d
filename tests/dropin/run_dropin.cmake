# SPDX-License-Identifier: MIT
# Runs the program linked against the stand-in twice: as it is (it must meet
# the stand-in's errors) and with libvelkmock preloaded (it must work).
include(${CMAKE_CURRENT_LIST_DIR}/../run_program.cmake)
run_program(plain plain_out COMMAND ${PROGRAM})
message(STATUS "without preload (rc ${plain}):\n${plain_out}")
if(plain EQUAL 0 OR NOT plain_out MATCHES "stand-in")
  message(FATAL_ERROR "the program did not see the stand-in")
endif()
run_program(preloaded preloaded_out ENV LD_PRELOAD=${MOCK} COMMAND ${PROGRAM})
message(STATUS "with LD_PRELOAD=${MOCK} (rc ${preloaded}):\n${preloaded_out}")
if(NOT preloaded EQUAL 0 OR NOT preloaded_out MATCHES "0.0.0-mock")
  message(FATAL_ERROR "the preloaded mock did not replace the stand-in")
endif()
