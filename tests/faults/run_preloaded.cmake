# SPDX-License-Identifier: MIT
# An unmodified program (built against the stand-in SDK library) run with
# libvelkfault preloaded: in front of the mock, in front of the stand-in
# alone, with and without a plan; velkfault-run; and a program that has
# nothing after libvelkfault. Run with -DPROGRAM= -DORPHAN= -DFAULT= -DMOCK= -DRUN=.
function(expect label rc_want pattern)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "${label}: rc ${rc}\n${out}${err}")
  if(rc_want STREQUAL "nonzero")
    if(rc EQUAL 0)
      message(FATAL_ERROR "${label}: expected a failure")
    endif()
  elseif(NOT rc STREQUAL rc_want)
    message(FATAL_ERROR "${label}: expected exit status ${rc_want}, got ${rc}")
  endif()
  if(NOT "${out}${err}" MATCHES "${pattern}")
    message(FATAL_ERROR "${label}: output does not match '${pattern}'")
  endif()
endfunction()

set(both "LD_PRELOAD=${FAULT} ${MOCK}")
expect("no plan, in front of the mock" 0 "0\\.0\\.0-mock"
  ${CMAKE_COMMAND} -E env ${both} ${PROGRAM})
expect("puts planned to fail" 1 "calls failed"
  ${CMAKE_COMMAND} -E env ${both} "VELKFAULT=velk_batch_put=-4" ${PROGRAM})
expect("a malformed plan" 2 "libvelkfault: VELKFAULT rule 'velk_batch_put=oops'"
  ${CMAKE_COMMAND} -E env ${both} "VELKFAULT=velk_batch_put=oops" ${PROGRAM})
expect("an unknown function" 2 "unknown function 'velk_nope'"
  ${CMAKE_COMMAND} -E env ${both} "VELKFAULT=velk_nope=-4" ${PROGRAM})
expect("no plan, in front of the stand-in SDK" 1 "stand-in"
  ${CMAKE_COMMAND} -E env "LD_PRELOAD=${FAULT}" ${PROGRAM})
expect("a plan read in front of the stand-in SDK" 2 "rule 'velk_get_nodes~x'"
  ${CMAKE_COMMAND} -E env "LD_PRELOAD=${FAULT}" "VELKFAULT=velk_get_nodes~x" ${PROGRAM})
expect("velkfault-run" 1 "calls failed"
  ${RUN} --fail velk_batch_put=-4 -- ${PROGRAM})
expect("velkfault-run with no plan" 0 "0\\.0\\.0-mock"
  ${RUN} -- ${PROGRAM})
expect("nothing after libvelkfault" nonzero "no definition of velk_[a-z_]+ after libvelkfault\\.so\\.0"
  ${ORPHAN})
