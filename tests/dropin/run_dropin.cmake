# SPDX-License-Identifier: MIT
# Runs the program linked against the stand-in twice: as it is (it must meet
# the stand-in's errors) and with libvelkmock preloaded (it must work).
execute_process(COMMAND ${PROGRAM} RESULT_VARIABLE plain OUTPUT_VARIABLE plain_out)
message(STATUS "without preload (rc ${plain}):\n${plain_out}")
if(plain EQUAL 0 OR NOT plain_out MATCHES "stand-in")
  message(FATAL_ERROR "the program did not see the stand-in")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_PRELOAD=${MOCK} ${PROGRAM}
                RESULT_VARIABLE preloaded OUTPUT_VARIABLE preloaded_out)
message(STATUS "with LD_PRELOAD=${MOCK} (rc ${preloaded}):\n${preloaded_out}")
if(NOT preloaded EQUAL 0 OR NOT preloaded_out MATCHES "0.0.0-mock")
  message(FATAL_ERROR "the preloaded mock did not replace the stand-in")
endif()
