# SPDX-License-Identifier: MIT
# The journal and velk-replay, end to end: the black-box suite run with a
# journal replays against the mock (and, with -DSHARED=, against the shared
# store on a private server) with no divergence; a library with one planted
# difference is caught at its call and field; several threads write whole
# lines; a journal that cannot be written changes no answer; and the
# replay's refusals say why. Run with -DSUITE= -DPROGRAM= -DREPLAY= -DFAULT=
# -DMOCK= -DPLANTED= -DWORK= [-DSHARED= -DSERVER=] [-DEMULATOR=].
include(${CMAKE_CURRENT_LIST_DIR}/../run_program.cmake)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(preload "LD_PRELOAD=${FAULT} ${MOCK}")

function(expect label rc_want pattern)
  run_program(rc out ${ARGN})
  string(LENGTH "${out}" length)
  if(length GREATER 4000)
    string(SUBSTRING "${out}" 0 4000 out)
  endif()
  message(STATUS "${label}: rc ${rc}\n${out}")
  if(NOT rc STREQUAL rc_want)
    message(FATAL_ERROR "${label}: expected exit status ${rc_want}, got ${rc}")
  endif()
  if(NOT "${out}" MATCHES "${pattern}")
    message(FATAL_ERROR "${label}: the output does not match '${pattern}'")
  endif()
endfunction()

# The suite's calls (but those whose threads overlap, or that fail
# allocations on purpose, or hold 4 GiB), values whole.
set(filter "-Alloc*:HugeValue.*:Stress.*:LeavingCallback.*:*Concurrent*:*Thread*")
expect("the black-box suite with a journal" 0 "PASSED"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/suite.jsonl" "VELKFAULT_JOURNAL_VALUES=full" "VELKMOCK_DIFF_SEEDS=3"
  COMMAND ${SUITE} --gtest_brief=1 --gtest_filter=${filter})
expect("its replay against the mock" 0 "calls replayed against libvelkmock\\.so\\.0, 0 diverged"
  COMMAND ${REPLAY} ${WORK}/suite.jsonl)
if(SHARED)
  # Handles on stores of their own, and listings in the shared store's order.
  execute_process(COMMAND ${SERVER} run -- ${REPLAY} ${WORK}/suite.jsonl --lib ${SHARED} --ignore order
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "its replay against the shared store: rc ${rc}\n${out}${err}")
  if(NOT rc EQUAL 0 OR NOT out MATCHES "against [^ ]*libvelkshared\\.so[^ ]*, 0 diverged")
    message(FATAL_ERROR "the replay against the shared store diverged")
  endif()
endif()

# Several threads at once: every line whole, every call once; some of them
# overlapped.
expect("threads with a journal" 0 "0 wrong answers"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/threads.jsonl" "VELKFAULT_JOURNAL_VALUES=full" COMMAND ${PROGRAM})
expect("their replay (each thread on its own handle)" 0 "[0-9]+ calls replayed against libvelkmock\\.so\\.0, 0 diverged"
  COMMAND ${REPLAY} ${WORK}/threads.jsonl)
# (The threads' journal is the shorter one to search for a difference.)
expect("a replay against a mock with one planted difference" 1
  "call [0-9]+ velk_batch_get_into: out\\.items\\[[0-9]+\\]\\.value\\.base64: recorded \"[^\"]*\", replayed"
  COMMAND ${REPLAY} ${WORK}/threads.jsonl --lib ${PLANTED})
file(STRINGS ${WORK}/threads.jsonl lines)
list(LENGTH lines count)
if(count LESS 2401)  # the header, then 4 threads x 150 rounds x 4 calls, and the creates
  message(FATAL_ERROR "the threads' journal has ${count} lines")
endif()
file(STRINGS ${WORK}/threads.jsonl overlapped REGEX "\"overlapped\": true")
if(NOT overlapped)
  message(FATAL_ERROR "no call of the threads' journal overlapped another")
endif()

# A journal that cannot be written: the same answers, one line that says so.
run_program(rc out ENV ${preload} "VELKFAULT_JOURNAL=/dev/full" COMMAND ${PROGRAM})
message(STATUS "a full disk: rc ${rc}\n${out}")
string(REGEX MATCHALL "the journal stopped: cannot write it: No space left on device" stops "${out}")
list(LENGTH stops stopped)
if(NOT rc EQUAL 0 OR NOT out MATCHES "0 wrong answers" OR NOT stopped EQUAL 1)
  message(FATAL_ERROR "a full disk: the answers changed, or the journal did not stop with one line")
endif()

# What cannot be replayed, or journaled, is said.
expect("a journal without values" 0 "0 wrong answers"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/hash.jsonl" COMMAND ${PROGRAM})
expect("its replay" 2 "record it again with VELKFAULT_JOURNAL_VALUES=full" COMMAND ${REPLAY} ${WORK}/hash.jsonl)
expect("values neither full, hash nor none" 2 "VELKFAULT_JOURNAL_VALUES is 'some', not full, hash or none"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/x.jsonl" "VELKFAULT_JOURNAL_VALUES=some" COMMAND ${PROGRAM})
expect("a journal that cannot be opened" 2 "VELKFAULT_JOURNAL: cannot open ${WORK}/no/such/folder"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/no/such/folder/x.jsonl" COMMAND ${PROGRAM})
file(WRITE ${WORK}/broken.jsonl "{\"journal\": \"velkfault\", \"version\": 1, \"values\": \"full\"}\n{\"seq\": 1,\n")
file(WRITE ${WORK}/other.jsonl "{\"something\": \"else\"}\n")
file(WRITE ${WORK}/twice.jsonl "{\"journal\": \"velkfault\", \"version\": 1, \"values\": \"full\"}\n"
  "{\"seq\": 1, \"call\": \"velk_version\", \"args\": {}, \"rc\": \"0.0.0-mock\", \"out\": null}\n"
  "{\"seq\": 1, \"call\": \"velk_version\", \"args\": {}, \"rc\": \"0.0.0-mock\", \"out\": null}\n")
file(WRITE ${WORK}/unknown.jsonl "{\"journal\": \"velkfault\", \"version\": 1, \"values\": \"full\"}\n"
  "{\"seq\": 1, \"call\": \"velk_frobnicate\", \"args\": {}, \"rc\": 0, \"out\": null}\n")
# Calls a plan answered, and calls made inside another, are not made again;
# a member on one side only is a divergence, unless ignored.
set(head "{\"journal\": \"velkfault\", \"version\": 1, \"values\": \"hash\"}\n")
set(list "\"call\": \"velk_list_namespaces\", \"handle\": \"h1\", \"args\": {\"capacity\": 0, \"infos\": null, \"total\": \"given\"}")
file(WRITE ${WORK}/planned.jsonl "${head}"
  "{\"seq\": 1, \"call\": \"velk_client_create\", \"within\": null, \"fault\": null, \"handle\": \"h1\", \"args\": {\"config\": \"given\"}, \"rc\": \"h1\", \"out\": null}\n"
  "{\"seq\": 2, \"within\": null, \"fault\": \"failed\", ${list}, \"rc\": -5, \"out\": null}\n"
  "{\"seq\": 3, \"within\": null, \"fault\": \"item 0, delayed\", ${list}, \"rc\": 0, \"out\": null}\n"
  "{\"seq\": 5, \"within\": 4, \"fault\": null, \"call\": \"velk_version\", \"args\": {}, \"rc\": \"x\", \"out\": null}\n"
  "{\"seq\": 4, \"within\": null, \"fault\": \"delayed\", ${list}, \"rc\": 0, \"out\": {\"total\": 0, \"extra\": 1}}\n"
  "{\"seq\": 6, \"call\": \"velk_client_destroy\", \"within\": null, \"fault\": null, \"handle\": \"h1\", \"args\": {}, \"rc\": null, \"out\": null}\n")
expect("a journal with planned and nested calls" 1
  "call 4 velk_list_namespaces: out\\.extra: recorded 1, replayed nothing.*out\\.infos: recorded nothing, replayed \\[\\].*3 calls replayed against libvelkmock\\.so\\.0, 1 diverged, 2 answered by a fault plan left out"
  COMMAND ${REPLAY} ${WORK}/planned.jsonl --lib mock)
expect("the same, those members ignored" 0 "3 calls replayed against libvelkmock\\.so\\.0, 0 diverged"
  COMMAND ${REPLAY} ${WORK}/planned.jsonl --ignore ,extra,,infos,)
expect("velk-replay --help" 0 "usage: velk-replay JOURNAL" COMMAND ${REPLAY} --help)
expect("no journal" 2 "no journal given" COMMAND ${REPLAY})
expect("two journals" 2 "one journal at a time" COMMAND ${REPLAY} a b)
expect("an unknown option" 2 "unknown option '--frob'" COMMAND ${REPLAY} a --frob)
expect("--lib without a library" 2 "--lib needs a value" COMMAND ${REPLAY} a --lib)
expect("a journal that is not there" 2 "cannot read ${WORK}/none" COMMAND ${REPLAY} ${WORK}/none)
expect("a line that is no JSON" 2 "broken\\.jsonl:2 is no JSON" COMMAND ${REPLAY} ${WORK}/broken.jsonl)
expect("a file that is no journal" 2 "is no journal of libvelkfault's" COMMAND ${REPLAY} ${WORK}/other.jsonl)
expect("a call twice" 2 "holds call 1 twice" COMMAND ${REPLAY} ${WORK}/twice.jsonl)
expect("a function that is none of the 28" 2 "none of the 28: velk_frobnicate" COMMAND ${REPLAY} ${WORK}/unknown.jsonl)
expect("a library that cannot be loaded" 2 "cannot load ${WORK}/none\\.so" COMMAND ${REPLAY} ${WORK}/twice.jsonl --lib ${WORK}/none.so)
expect("a library without the functions" 2 "lacks velk_version" COMMAND ${REPLAY} ${WORK}/twice.jsonl --lib libc.so.6)
