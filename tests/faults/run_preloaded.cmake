# SPDX-License-Identifier: MIT
# An unmodified program (built against the stand-in SDK library) run with
# libvelkfault preloaded: in front of the mock, in front of the stand-in
# alone, with and without a plan; velkfault-run; and a program that has
# nothing after libvelkfault. Run with -DPROGRAM= -DORPHAN= -DFAULT= -DMOCK= -DRUN=.
include(${CMAKE_CURRENT_LIST_DIR}/../run_program.cmake)

# expect(LABEL RC PATTERN ENV... COMMAND...): as run_program, then checks.
function(expect label rc_want pattern)
  run_program(rc out ${ARGN})
  message(STATUS "${label}: rc ${rc}\n${out}")
  if(rc_want STREQUAL "nonzero")
    if(rc EQUAL 0)
      message(FATAL_ERROR "${label}: expected a failure")
    endif()
  elseif(NOT rc STREQUAL rc_want)
    message(FATAL_ERROR "${label}: expected exit status ${rc_want}, got ${rc}")
  endif()
  if(NOT "${out}" MATCHES "${pattern}")
    message(FATAL_ERROR "${label}: output does not match '${pattern}'")
  endif()
endfunction()

# velkfault-run is a host script: it runs the emulator, if any, itself.
function(expect_run label rc_want pattern)
  execute_process(COMMAND ${RUN} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "${label}: rc ${rc}\n${out}${err}")
  if(NOT rc STREQUAL rc_want OR NOT "${out}${err}" MATCHES "${pattern}")
    message(FATAL_ERROR "${label}: expected exit status ${rc_want} and '${pattern}'")
  endif()
endfunction()

set(both "LD_PRELOAD=${FAULT} ${MOCK}")
expect("no plan, in front of the mock" 0 "0\\.0\\.0-mock"
  ENV ${both} COMMAND ${PROGRAM})
expect("puts planned to fail" 1 "calls failed"
  ENV ${both} "VELKFAULT=velk_batch_put=-4" COMMAND ${PROGRAM})
expect("a malformed plan" 2 "libvelkfault: VELKFAULT rule 'velk_batch_put=oops'"
  ENV ${both} "VELKFAULT=velk_batch_put=oops" COMMAND ${PROGRAM})
expect("an unknown function" 2 "unknown function 'velk_nope'"
  ENV ${both} "VELKFAULT=velk_nope=-4" COMMAND ${PROGRAM})
expect("no plan, in front of the stand-in SDK" 1 "stand-in"
  ENV "LD_PRELOAD=${FAULT}" COMMAND ${PROGRAM})
expect("a plan read in front of the stand-in SDK" 2 "rule 'velk_get_nodes~x'"
  ENV "LD_PRELOAD=${FAULT}" "VELKFAULT=velk_get_nodes~x" COMMAND ${PROGRAM})
expect("nothing after libvelkfault" nonzero "no definition of velk_[a-z_]+ after libvelkfault\\.so\\.0"
  COMMAND ${ORPHAN})
expect_run("velkfault-run" 1 "calls failed" --fail velk_batch_put=-4 -- ${velkmock_emulator} ${PROGRAM})
expect_run("velkfault-run with no plan" 0 "0\\.0\\.0-mock" -- ${velkmock_emulator} ${PROGRAM})
