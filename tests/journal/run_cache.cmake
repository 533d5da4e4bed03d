# SPDX-License-Identifier: MIT
# The cache mode with the journal and velk-journal, end to end. The black-box
# suite run with rules that evict and refuse (it fails its checks, as a
# program that assumed "what I put, I can get" does): its journal, with the
# refused items and the evictions made within the puts, replays with no
# divergence against the mock and the shared store. A program with a miss
# path, recorded without the mode: every point of its curve equals what the
# cache mode counts for that program at that capacity and policy. The
# curve's table, chart and refusals.
# Run with -DSUITE= -DRELOADING= -DJOURNAL= -DREPLAY= -DFAULT= -DMOCK= -DWORK=
# [-DSHARED= -DSERVER=] [-DRSVG=] [-DEMULATOR=].
include(${CMAKE_CURRENT_LIST_DIR}/../run_program.cmake)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(check label rc_want pattern)
  run_program(rc out ${ARGN})
  string(LENGTH "${out}" length)
  string(SUBSTRING "${out}" 0 4000 shown)
  message(STATUS "${label}: rc ${rc}\n${shown}")
  if(NOT rc STREQUAL rc_want OR NOT "${out}" MATCHES "${pattern}")
    message(FATAL_ERROR "${label}: expected exit status ${rc_want} and '${pattern}'")
  endif()
endfunction()

set(filter "-Alloc*:HugeValue.*:Stress.*:LeavingCallback.*:*Concurrent*:*Thread*:Lifecycle.DestroyReleasesAStoreFullOfData")
# (Set here rather than in the list of ENV, which would split it at the ';'.)
set(ENV{VELKFAULT_CACHE} "*=300:lru;ll=200:fifo;big=50:random;ns=40:lfu")
check("the suite in cache mode with a journal" 1 "libvelkfault cache mode:.*  ll +[0-9]+ +200 +fifo"
  ENV "LD_PRELOAD=${FAULT} ${MOCK}" "VELKFAULT_JOURNAL=${WORK}/suite.jsonl" "VELKFAULT_JOURNAL_VALUES=full"
      "VELKMOCK_DIFF_SEEDS=3" "VELKFAULT_CACHE_TABLE=1"
  COMMAND ${SUITE} --gtest_brief=1 --gtest_filter=${filter})
unset(ENV{VELKFAULT_CACHE})
file(STRINGS ${WORK}/suite.jsonl evicted REGEX "\"call\": \"velk_batch_delete_items\".*\"within\": [0-9]+, \"evicted\": true, \"fault\": null")
file(STRINGS ${WORK}/suite.jsonl refused REGEX "\"plan\": {\"refused\": \\[[0-9]")
list(LENGTH evicted evictions)
if(evictions LESS 10 OR NOT refused)
  message(FATAL_ERROR "the suite's journal holds ${evictions} evictions and refusals '${refused}'")
endif()
check("its replay against the mock" 0 "calls replayed against libvelkmock\\.so\\.0 \\([0-9]+ as a plan had them\\), 0 diverged"
  COMMAND ${REPLAY} ${WORK}/suite.jsonl)
if(SHARED)
  execute_process(COMMAND ${SERVER} run --dir ${WORK}/redis -- ${REPLAY} ${WORK}/suite.jsonl --lib ${SHARED} --ignore order
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "^(.*\n)?(velk-replay: [^\n]*)\n?$" "\\2" summary "${out}")
  message(STATUS "its replay against the shared store: rc ${rc}\n${summary}${err}")
  if(NOT rc EQUAL 0 OR NOT out MATCHES "against [^ ]*libvelkshared\\.so[^ ]*( \\([0-9]+ as a plan had them\\))?, 0 diverged")
    message(FATAL_ERROR "the replay against the shared store diverged\n${out}")
  endif()
endif()

# With a plan as well: items it drops beside the ones the mode refuses,
# puts it fails (which store and evict nothing), a delete it fails.
set(ENV{VELKFAULT} "velk_batch_put[0]=-7@2;velk_ll_batch_put=-4@5x3;velk_batch_delete_items[0]=-1@3x10")
set(ENV{VELKFAULT_CACHE} "*=3:lfu;big=30:fifo")
check("the suite in cache mode with a plan and a journal" 1 "libvelkfault cache mode:"
  ENV "LD_PRELOAD=${FAULT} ${MOCK}" "VELKFAULT_JOURNAL=${WORK}/planned.jsonl" "VELKFAULT_JOURNAL_VALUES=full"
      "VELKMOCK_DIFF_SEEDS=3" "VELKFAULT_CACHE_TABLE=1"
  COMMAND ${SUITE} --gtest_brief=1 --gtest_filter=${filter})
unset(ENV{VELKFAULT})
unset(ENV{VELKFAULT_CACHE})
file(STRINGS ${WORK}/planned.jsonl both REGEX "\"plan\": {\"item\": 0, \"status\": -7, \"refused\": \\[")
if(NOT both)
  message(FATAL_ERROR "no put had an item dropped by the plan and one refused by the mode")
endif()
check("its replay against the mock" 0 "calls replayed against libvelkmock\\.so\\.0 \\([0-9]+ as a plan had them\\), 0 diverged"
  COMMAND ${REPLAY} ${WORK}/planned.jsonl)

# The curve of a recording, point by point, against the cache mode.
check("a program with a miss path, recorded" 0 ""
  ENV "VELKFAULT_JOURNAL=${WORK}/reloading.jsonl" "VELKFAULT_JOURNAL_VALUES=none" COMMAND ${RELOADING} record)
execute_process(COMMAND ${JOURNAL} curve ${WORK}/reloading.jsonl --json --policy lru,fifo,lfu,random
                OUTPUT_FILE ${WORK}/curve.json RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "velk-journal curve --json: exit status ${rc}")
endif()
check("each point of its curve, by the cache mode" 0 "[0-9][0-9]+ points checked, 0 differ"
  COMMAND ${RELOADING} check ${WORK}/curve.json)
check("its table" 0 "^ll: [0-9]+ uses, [0-9]+ reads\n +capacity +lru +random\n.*ns: [0-9]+ uses, [0-9]+ reads, declared 2\\.0 KiB\n"
  COMMAND ${JOURNAL} curve --policy lru,random,lru -- ${WORK}/reloading.jsonl)
check("one namespace's chart" 0 ""
  COMMAND ${JOURNAL} --svg ${WORK}/curve.svg curve ${WORK}/reloading.jsonl --ns ns --policy fifo)
file(READ ${WORK}/curve.svg chart)
if(NOT chart MATCHES "^<\\?xml.*<svg .*Namespace “ns”.*declared 2\\.0 KiB")
  message(FATAL_ERROR "the chart of ns is not one:\n${chart}")
endif()
if(RSVG)
  check("the chart renders" 0 "" COMMAND ${RSVG} -o ${WORK}/curve.png ${WORK}/curve.svg)
endif()
check("the curves of the suite's journal with plans" 0 "big: [0-9]+ uses"
  COMMAND ${JOURNAL} curve ${WORK}/planned.jsonl --policy lru,fifo)
# Lines that cannot be read as a program's calls are refused with their number.
set(head "{\"journal\": \"velkfault\", \"version\": 2, \"values\": \"none\"}\n{\"process\": 1, \"pid\": 1, \"ppid\": 1, \"program\": \"p\", \"parent\": null, \"forked_after\": null}\n")
set(line "{\"seq\": 1, \"process\": 1, \"pid\": 1, \"thread\": 1, \"handle\": \"h1\", \"call\": \"velk_batch_put\", \"start_us\": 0, \"duration_us\": 0, \"overlapped\": false, \"within\": null, \"fault\": null, \"plan\": null, \"args\": {\"ns\": \"n\", \"count\": 2, \"result_capacity\": 2, \"results\": \"given\", \"items\": [{\"key\": \"k\", \"value\": {\"length\": 1}}]}, \"rc\": 0, \"out\": {\"results\": [{\"status\": 0}, {\"status\": 0}]}}\n")
file(WRITE ${WORK}/short.jsonl "${head}${line}")
check("a put whose items are fewer than its count" 2 "line 3: args.items: it holds 1 items of the call's 2"
  COMMAND ${JOURNAL} curve ${WORK}/short.jsonl)
string(REPLACE "\"items\": [{" "\"items\": 7, \"x\": [{" line "${line}")
file(WRITE ${WORK}/short.jsonl "${head}${line}")
check("a put whose items are no array" 2 "line 3: args.items: expected an array"
  COMMAND ${JOURNAL} curve ${WORK}/short.jsonl)
check("a namespace the journal does not hold" 2 "holds no call on the namespace 'none'"
  COMMAND ${JOURNAL} curve ${WORK}/reloading.jsonl --ns none)
check("an unknown policy" 2 "--policy: unknown policy 'arc': the policies are lru, fifo, lfu and random\nusage:"
  COMMAND ${JOURNAL} curve ${WORK}/reloading.jsonl --policy lru,arc)
check("a curve option elsewhere" 2 "--json is an option of curve, not of replay"
  COMMAND ${JOURNAL} replay ${WORK}/reloading.jsonl --json)
check("another command's option" 2 "--lib is no option of curve" COMMAND ${JOURNAL} curve ${WORK}/reloading.jsonl --lib mock)
check("a chart that cannot be written" 2 "cannot write ${WORK}/no/such.svg: No such file or directory"
  COMMAND ${JOURNAL} curve ${WORK}/reloading.jsonl --svg ${WORK}/no/such.svg)
check("a seed that is none" 2 "VELKFAULT_SEED 'x'" ENV "VELKFAULT_SEED=x" COMMAND ${JOURNAL} curve ${WORK}/reloading.jsonl)
