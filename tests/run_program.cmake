# SPDX-License-Identifier: MIT
# run_program(<result var> <output var> ENV <VAR=value>... COMMAND <program> <args>...)
# runs a program of this build with the given environment: directly, or,
# in a cross build, under the emulator in EMULATOR (a comma-separated
# command line). The emulator gets the variables with -E, so that
# LD_PRELOAD reaches the emulated program and not the emulator itself.
string(REPLACE "," ";" velkmock_emulator "${EMULATOR}")
function(run_program result output)
  cmake_parse_arguments(PARSE_ARGV 2 RUN "" "" "ENV;COMMAND")
  if(velkmock_emulator)
    set(command ${velkmock_emulator})
    foreach(assignment IN LISTS RUN_ENV)
      list(APPEND command -E ${assignment})
    endforeach()
    list(APPEND command ${RUN_COMMAND})
  else()
    set(command ${CMAKE_COMMAND} -E env ${RUN_ENV} ${RUN_COMMAND})
  endif()
  execute_process(COMMAND ${command} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${result} "${rc}" PARENT_SCOPE)
  set(${output} "${out}${err}" PARENT_SCOPE)
endfunction()
