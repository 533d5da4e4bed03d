# SPDX-License-Identifier: MIT
# An unmodified program (built against the stand-in SDK library) run with
# libvelkfault preloaded: in front of the mock, in front of the stand-in
# alone, with and without a plan; velkfault-run; and a program that has
# nothing after libvelkfault. Run with -DPROGRAM= -DORPHAN= -DFAULT= -DMOCK= -DRUN=
# -DRUN_INSTALLED= -DPLUGIN_HOST= -DNOT_IN_FRONT= -DWORK=.
include(${CMAKE_CURRENT_LIST_DIR}/../run_program.cmake)
file(MAKE_DIRECTORY ${WORK})

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
expect_run("velkfault-run with a journal" 1 "calls failed"
  --journal ${WORK}/run.jsonl --journal-values none --fail velk_batch_put=-4 -- ${velkmock_emulator} ${PROGRAM})
file(READ ${WORK}/run.jsonl journal)
if(NOT journal MATCHES "\"values\": \"none\"" OR NOT journal MATCHES "\"call\": \"velk_batch_put\"[^\n]*\"fault\": \"failed\"")
  message(FATAL_ERROR "velkfault-run --journal: the journal lacks the failed put:\n${journal}")
endif()

# The cache mode: a value larger than the capacity is refused (the program
# reads nothing back), the table at exit says so, the report holds it; on,
# as namespaces declare, nothing is refused; a malformed spec stops at load.
expect_run("velkfault-run --cache with a spec" 1
  "libvelkfault cache mode:.*\n  ns +1 +5 +lru +0 +1 +0\\.0 +0 +0 +1 +0\n"
  --cache ns=5:lru -- ${CMAKE_COMMAND} -E env VELKFAULT_CACHE_REPORT=${WORK}/cache.json ${velkmock_emulator} ${PROGRAM})
file(READ ${WORK}/cache.json report)
if(NOT report MATCHES "\"handle\": \"h1\", \"ns\": \"ns\", \"capacity\": 5, \"policy\": \"lru\", \"hits\": 0, \"misses\": 1, \"evictions\": 0, \"evicted_bytes\": 0, \"refused\": 1, \"peak_bytes\": 0")
  message(FATAL_ERROR "VELKFAULT_CACHE_REPORT: not the run's counts:\n${report}")
endif()
expect_run("velkfault-run --cache without a spec" 0 "  ns +1 +none +lru +1 +0 +100\\.0"
  --cache -- ${velkmock_emulator} ${PROGRAM})
expect("a report that cannot be written, and no table" 1
  "^library version[^\n]*\nstored at , read back \"\"\nlibvelkfault: VELKFAULT_CACHE_REPORT '${WORK}/no/such\\.json': No such file or directory\n$"
  ENV ${both} "VELKFAULT_CACHE=ns=5:lru" "VELKFAULT_CACHE_TABLE=0" "VELKFAULT_CACHE_REPORT=${WORK}/no/such.json"
  COMMAND ${PROGRAM})
expect("a malformed cache spec" 2 "^libvelkfault: VELKFAULT_CACHE rule 'ns=1:LRU': unknown policy 'LRU'"
  ENV ${both} "VELKFAULT_CACHE=ns=1:LRU" COMMAND ${PROGRAM})
expect("a malformed seed" 2 "^libvelkfault: VELKFAULT_SEED 'x'"
  ENV ${both} "VELKFAULT_CACHE=on" "VELKFAULT_SEED=x" COMMAND ${PROGRAM})
expect("a cache spec behind the mock" 2 "VELKFAULT_CACHE cannot take effect"
  ENV "LD_PRELOAD=${MOCK} ${FAULT}" "VELKFAULT_CACHE=on" COMMAND ${PROGRAM})

# The mock loaded as a plugin, calling its own exported names: with no plan
# the fault library changes nothing; with one, the plan reaches those calls.
expect("the mock as an RTLD_LOCAL plugin, no plan" 0 "plugin: put 0, delete 0 with status 0"
  ENV "LD_PRELOAD=${FAULT}" COMMAND ${PLUGIN_HOST} ${MOCK})
expect("the mock as an RTLD_LOCAL plugin, a plan" 0 "plugin: put -4, delete 0 with status -1"
  ENV "LD_PRELOAD=${FAULT}" "VELKFAULT=velk_batch_put=-4" COMMAND ${PLUGIN_HOST} ${MOCK})

# Loaded behind the mock, a plan could never take effect: refused, loudly.
expect("preloaded after the mock, with a plan" 2 "VELKFAULT plan cannot take effect"
  ENV "LD_PRELOAD=${MOCK} ${FAULT}" "VELKFAULT=velk_batch_put=-4" COMMAND ${PROGRAM})
expect("preloaded after the mock, no plan" 0 "0\\.0\\.0-mock"
  ENV "LD_PRELOAD=${MOCK} ${FAULT}" COMMAND ${PROGRAM})
expect("loaded after the mock by dlopen" 0 "velkfault_fail: -2, velkfault_fail_item: -2, velkfault_delay: -2" COMMAND ${NOT_IN_FRONT} ${FAULT})

# velkfault-run: a sanitizer runtime the caller preloads stays first, the
# rest comes after the fault library and the mock.
execute_process(COMMAND ${CMAKE_COMMAND} -E env "LD_PRELOAD=/nowhere/libasan.so.8 /nowhere/other.so"
    ${RUN} -- /bin/sh -c "printf '%s' \"$LD_PRELOAD\""
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_QUIET)
message(STATUS "velkfault-run under a sanitizer: rc ${rc}: ${out}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "^/nowhere/libasan\\.so\\.8 [^ ]*libvelkfault\\.so\\.0 [^ ]*libvelkmock\\.so\\.0 /nowhere/other\\.so$")
  message(FATAL_ERROR "velkfault-run: the sanitizer runtime is not first")
endif()

# An installed velkfault-run under a path with a space would preload
# nothing: it refuses.
if(EXISTS "${RUN_INSTALLED}")
  set(spaced "${WORK}/with space/bin")
  file(MAKE_DIRECTORY "${spaced}" "${WORK}/with space/lib")
  file(COPY "${RUN_INSTALLED}" DESTINATION "${spaced}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(RUN "${spaced}/velkfault-run")
  expect_run("velkfault-run under a path with a space" 2 "splits paths at spaces"
    -- ${PROGRAM})
endif()
