# SPDX-License-Identifier: MIT
# The journal and velk-journal, end to end. Faithful runs must replay with
# no divergence: the black-box suite (plain, with a fault plan, and as two
# processes writing one journal) against the mock and, with -DSHARED=,
# against the shared store on a private server; threads; a fork and an
# exec. Planted faults must be found and named: a mutant library changes
# one answer at a time. A trace of several processes and threads is what a
# viewer opens. A journal that cannot be written changes no answer; and
# what cannot be used is refused, saying why.
# Run with -DSUITE= -DPROGRAM= -DPROCESSES= -DJOURNAL= -DREPLAY= -DFAULT=
# -DMOCK= -DMUTANT= -DTRACE_CHECK= -DRUN= -DWORK= [-DSHARED= -DSERVER=]
# [-DEMULATOR=].
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
  if(rc_want STREQUAL "any")
  elseif(NOT rc STREQUAL rc_want)
    message(FATAL_ERROR "${label}: expected exit status ${rc_want}, got ${rc}")
  endif()
  if(NOT "${out}" MATCHES "${pattern}")
    message(FATAL_ERROR "${label}: the output does not match '${pattern}'")
  endif()
endfunction()

# A replay against the shared store, on a server of its own: handles on
# stores of their own, listings in the shared store's order.
function(expect_shared_replay label journal)
  if(NOT SHARED)
    return()
  endif()
  execute_process(COMMAND ${SERVER} run --dir ${WORK}/redis -- ${REPLAY} ${journal} --lib ${SHARED} --ignore order
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "^(.*\n)?(velk-replay: [^\n]*)\n?$" "\\2" summary "${out}")
  message(STATUS "${label}, against the shared store: rc ${rc}\n${summary}${err}")
  if(NOT rc EQUAL 0 OR NOT out MATCHES "against [^ ]*libvelkshared\\.so[^ ]*( \\([0-9]+ as a plan had them\\))?, 0 diverged")
    message(FATAL_ERROR "${label}: the replay against the shared store diverged\n${out}")
  endif()
endfunction()

# The suite's calls (but those whose threads overlap, or that fail
# allocations on purpose, or hold 4 GiB), values whole.
set(filter "-Alloc*:HugeValue.*:Stress.*:LeavingCallback.*:*Concurrent*:*Thread*")
set(suite_env ${preload} "VELKFAULT_JOURNAL_VALUES=full" "VELKMOCK_DIFF_SEEDS=3")
expect("the black-box suite with a journal" 0 "PASSED"
  ENV ${suite_env} "VELKFAULT_JOURNAL=${WORK}/suite.jsonl" COMMAND ${SUITE} --gtest_brief=1 --gtest_filter=${filter})
expect("its replay against the mock" 0 "calls replayed against libvelkmock\\.so\\.0, 0 diverged"
  COMMAND ${REPLAY} ${WORK}/suite.jsonl)
expect_shared_replay("the suite" ${WORK}/suite.jsonl)

# With a plan: items dropped, calls failed (a delete made within the flat
# one among them), creates failed, delays. The suite fails some checks; its
# journal replays as it ran.
expect("the suite with a plan and a journal" 1 "Running main"
  ENV "VELKFAULT_JOURNAL_VALUES=full" "VELKMOCK_DIFF_SEEDS=3"
  COMMAND ${RUN} --fail "velk_batch_put[1]=-4@40x4" --fail "velk_batch_delete_items[0]=-1@3x10"
          --fail "velk_get_nodes~200" --fail "velk_client_create=-4@60x1"
          --journal ${WORK}/planned.jsonl -- ${SUITE} --gtest_brief=1 --gtest_filter=${filter})
expect("its replay against the mock" 0 "calls replayed against libvelkmock\\.so\\.0 \\([0-9]+ as a plan had them\\), 0 diverged"
  COMMAND ${REPLAY} ${WORK}/planned.jsonl)
file(STRINGS ${WORK}/planned.jsonl inner_plans REGEX "\"within\": [0-9]+, \"fault\": \"item")
if(NOT inner_plans)
  message(FATAL_ERROR "the plan failed no item of a call made within another")
endif()
expect_shared_replay("the suite with a plan" ${WORK}/planned.jsonl)

# Two processes at once, one journal: each of the suite's two halves.
set(half "env LD_PRELOAD='${FAULT} ${MOCK}' VELKFAULT_JOURNAL_VALUES=full VELKMOCK_DIFF_SEEDS=3 VELKFAULT_JOURNAL='${WORK}/halves.jsonl' GTEST_TOTAL_SHARDS=2")
set(half_args "'${SUITE}' --gtest_brief=1 '--gtest_filter=${filter}'")
execute_process(
  COMMAND sh -c "${half} GTEST_SHARD_INDEX=0 ${half_args} > '${WORK}/half0.out' 2>&1 & first=$!; ${half} GTEST_SHARD_INDEX=1 ${half_args} > '${WORK}/half1.out' 2>&1; second=$?; wait $first; echo \"$?,$second\""
  OUTPUT_VARIABLE halves OUTPUT_STRIP_TRAILING_WHITESPACE)
message(STATUS "the suite as two processes: ${halves}")
if(NOT halves STREQUAL "0,0")
  message(FATAL_ERROR "the suite as two processes failed: ${halves}")
endif()
file(STRINGS ${WORK}/halves.jsonl headers REGEX "^{\"journal\": ")
file(STRINGS ${WORK}/halves.jsonl processes REGEX "^{\"process\": ")
list(LENGTH headers header_count)
list(LENGTH processes process_count)
if(NOT header_count EQUAL 1 OR NOT process_count EQUAL 2)
  message(FATAL_ERROR "two processes' journal: ${header_count} headers and ${process_count} processes")
endif()
expect("their replay against the mock" 0 "calls replayed against libvelkmock\\.so\\.0, 0 diverged"
  COMMAND ${REPLAY} ${WORK}/halves.jsonl)
expect_shared_replay("the suite as two processes" ${WORK}/halves.jsonl)

# Several threads at once: every line whole, every call once; some of them
# overlapped.
expect("threads with a journal" 0 "0 wrong answers"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/threads.jsonl" "VELKFAULT_JOURNAL_VALUES=full" COMMAND ${PROGRAM})
expect("their replay (each thread on its own handle)" 0 "[0-9]+ calls replayed against libvelkmock\\.so\\.0, 0 diverged"
  COMMAND ${REPLAY} ${WORK}/threads.jsonl)
file(STRINGS ${WORK}/threads.jsonl overlapped REGEX "\"overlapped\": true")
if(NOT overlapped)
  message(FATAL_ERROR "no call of the threads' journal overlapped another")
endif()
expect("their timeline" 0 "trace: [0-9]+ calls on 4 tracks of 1 processes"
  COMMAND sh -c "'${JOURNAL}' trace '${WORK}/threads.jsonl' > '${WORK}/threads.trace.json' && '${TRACE_CHECK}' '${WORK}/threads.trace.json'")

# A fork, whose child goes on with the handle it inherited, and an exec:
# three processes in one journal, each numbering its own; velkfault-run
# starts it afresh.
file(WRITE ${WORK}/processes.jsonl "left by an earlier run\n")
expect("processes with a journal" 0 "0 wrong answers"
  ENV "VELKFAULT_JOURNAL_VALUES=full" COMMAND ${RUN} --journal ${WORK}/processes.jsonl -- ${PROCESSES})
file(STRINGS ${WORK}/processes.jsonl headers REGEX "^{\"journal\": ")
file(STRINGS ${WORK}/processes.jsonl processes REGEX "^{\"process\": ")
file(STRINGS ${WORK}/processes.jsonl forked REGEX "\"parent\": 1, \"forked_after\": [0-9]+}")
file(STRINGS ${WORK}/processes.jsonl inherited REGEX "\"handle\": \"1/h1\"")
file(STRINGS ${WORK}/processes.jsonl nested_overlapped REGEX "\"overlapped\": true, \"within\": [0-9]")
file(STRINGS ${WORK}/processes.jsonl refused REGEX "\"key\": null, \"part_count\": 3, \"parts\": \"given\", \"part_lens\": \"given\", \"value\": null.*\"metadata\": \"given\"")
list(LENGTH headers header_count)
list(LENGTH processes process_count)
if(NOT header_count EQUAL 1 OR NOT process_count EQUAL 3 OR NOT forked OR NOT inherited OR nested_overlapped
   OR NOT refused)
  message(FATAL_ERROR "the processes' journal: ${header_count} headers, ${process_count} processes, forked "
                      "'${forked}', inherited '${inherited}', a nested call overlapped '${nested_overlapped}', "
                      "the refused item '${refused}'")
endif()
expect("their replay against the mock" 0 "calls replayed against libvelkmock\\.so\\.0, 0 diverged"
  COMMAND ${REPLAY} ${WORK}/processes.jsonl)
# Against the shared store, the child's handle shares its parent's store,
# by design: when the parent's put after the fork began before the child's
# first read, that read sees it, where the mock's copy did not (which began
# first is the recording's race), and the parent's last read sees what the
# child put.
if(SHARED)
  execute_process(COMMAND ${SERVER} run --dir ${WORK}/redis -- ${REPLAY} ${WORK}/processes.jsonl --lib ${SHARED}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "the processes, against the shared store: rc ${rc}\n${out}${err}")
  if(NOT rc EQUAL 0 AND NOT (rc EQUAL 1 AND out MATCHES "velk_batch_get_into \\(process 2\\): out\\.items\\[0\\]\\.value: recorded \"before the fork\" \\(15 bytes\\), replayed \"the parent's, after the fork\""))
    message(FATAL_ERROR "the child's inherited handle did not share its parent's store")
  endif()
endif()
expect("their replay, with its timeline" 0 "trace: [0-9]+ calls on [0-9]+ tracks of 3 processes"
  COMMAND sh -c "'${JOURNAL}' replay '${WORK}/processes.jsonl' --trace '${WORK}/replayed.trace.json' > /dev/null && '${TRACE_CHECK}' '${WORK}/replayed.trace.json' --processes 3")
expect("their timeline" 0 "trace: [0-9]+ calls on [0-9]+ tracks of 3 processes"
  COMMAND sh -c "'${JOURNAL}' trace '${WORK}/processes.jsonl' > '${WORK}/processes.trace.json' && '${TRACE_CHECK}' '${WORK}/processes.trace.json' --processes 3")

# Forks at awkward moments: a daemon's double fork (the grandchild's handle
# comes to it through a child that made no call of its own), and a child
# forked inside a get's callback (the get is its parent's alone).
expect("awkward forks with a journal" 0 "0 wrong answers"
  ENV "VELKFAULT_JOURNAL_VALUES=full" COMMAND ${RUN} --journal ${WORK}/forks.jsonl -- ${PROCESSES} forks)
expect("their replay against the mock" 0 "calls replayed against libvelkmock\\.so\\.0, 0 diverged"
  COMMAND ${REPLAY} ${WORK}/forks.jsonl)

# Every change a mutant library makes is found, with its call and member,
# --ignore order or not; without one, it answers as the mock.
expect("the mutant that changes nothing" 0 "0 diverged" COMMAND ${REPLAY} ${WORK}/processes.jsonl --lib ${MUTANT})
set(mutations
  "status|velk_batch_put: out\\.results\\[1\\]\\.status: recorded 0, replayed -4"
  "length|velk_batch_get_into: out\\.items\\[2\\]\\.length: recorded 5, replayed 6"
  "byte|velk_batch_get_into: out\\.items\\[0\\]\\.value: recorded \"first\" \\(5 bytes\\), replayed \"firsu\" \\(5 bytes. they differ from byte 4\\)"
  "order|velk_batch_get_into: out\\.items\\[0\\]\\.length: recorded 5, replayed 6"
  "field|velk_batch_query: out\\.results\\[2\\]\\.replica_count: recorded 3, replayed 4"
  "number|velk_get_namespace: out\\.info\\.capacity_bytes: recorded 9007199254740994, replayed 9007199254740995"
  "double|velk_get_namespace: out\\.info\\.policy_param: recorded 0\\.1, replayed 0\\.10000000000000002")
foreach(mutation IN LISTS mutations)
  string(FIND "${mutation}" "|" bar)
  string(SUBSTRING "${mutation}" 0 ${bar} name)
  math(EXPR bar "${bar} + 1")
  string(SUBSTRING "${mutation}" ${bar} -1 pattern)
  string(REPLACE ": out" " \\(process 1\\): out" pattern "${pattern}")
  expect("the mutant '${name}'" 1 "call [0-9]+ ${pattern}.*1 diverged"
    ENV "VELKMOCK_MUTANT=${name}" COMMAND ${REPLAY} ${WORK}/processes.jsonl --lib ${MUTANT} --ignore order)
endforeach()
# A library whose later creates fail, or whose first does, whose failing
# create sets errno or makes a handle after all, or that does a
# flat delete without the exported delete with items the recording's plan
# changed: each said, as a divergence or as a library that cannot be used.
expect("the mutant 'create'" 1 "call [0-9]+ velk_client_create \\(process 2\\): rc: recorded \"h1\", replayed null"
  ENV "VELKMOCK_MUTANT=create" COMMAND ${REPLAY} ${WORK}/processes.jsonl --lib ${MUTANT})
expect("the mutant 'errno'" 1 "velk_client_create \\(process 1\\): errno: recorded \"unchanged\", replayed 22"
  ENV "VELKMOCK_MUTANT=errno" COMMAND ${REPLAY} ${WORK}/processes.jsonl --lib ${MUTANT})
expect("the mutant 'handle'" 1 "velk_client_create \\(process 1\\): rc: recorded null, replayed a handle"
  ENV "VELKMOCK_MUTANT=handle" COMMAND ${REPLAY} ${WORK}/processes.jsonl --lib ${MUTANT})
expect("the mutant 'first-create'" 2 "cannot be used: the journal's first create \\(call 1\\) made a handle, here it made none: Cannot allocate memory"
  ENV "VELKMOCK_MUTANT=first-create" COMMAND ${REPLAY} ${WORK}/processes.jsonl --lib ${MUTANT})
expect("the mutant 'no-inner'" 1 "velk_batch_delete: the library did not make velk_batch_delete_items within it \\(call [0-9]+\\), so the plan's effect on it could not be applied"
  ENV "VELKMOCK_MUTANT=no-inner" COMMAND ${REPLAY} ${WORK}/planned.jsonl --lib ${MUTANT})

# (velk-journal trace exits 1 for a divergence, and the check runs then.)
expect("a timeline with the mutant's divergence" 0 "trace: .* 1 divergences"
  COMMAND sh -c "VELKMOCK_MUTANT=byte '${JOURNAL}' trace '${WORK}/processes.jsonl' --against '${MUTANT}' > '${WORK}/mutant.trace.json' || '${TRACE_CHECK}' '${WORK}/mutant.trace.json' --divergences")

# Opening a journal (one not there yet) leaves the program's errno as it
# would be without one.
file(REMOVE ${WORK}/errno.jsonl)
run_program(rc without ENV ${preload} COMMAND ${PROCESSES} errno)
run_program(rc with ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/errno.jsonl" COMMAND ${PROCESSES} errno)
if(NOT with STREQUAL without)
  message(FATAL_ERROR "opening a journal changed errno: '${without}' without it, '${with}' with it")
endif()

# A journal on a pipe whose reader has gone: no SIGPIPE for the program,
# the same answers, one line that says so.
# (Lines, not semicolons, which would split the command's arguments.)
run_program(rc out COMMAND sh -c "( sleep 1\nVELKFAULT_JOURNAL=/dev/fd/3 LD_PRELOAD='${FAULT} ${MOCK}' '${PROGRAM}' 3>&1 1>&2\necho \"exit status \$?\" >&2 ) | true")
message(STATUS "a journal whose reader has gone: rc ${rc}\n${out}")
if(NOT out MATCHES "exit status 0" OR NOT out MATCHES "0 wrong answers" OR NOT out MATCHES "the journal stopped: cannot write it: Broken pipe")
  message(FATAL_ERROR "a journal whose reader has gone: the program did not go on as it would without one")
endif()

# A journal that cannot be written: the same answers, one line that says so.
run_program(rc out ENV ${preload} "VELKFAULT_JOURNAL=/dev/full" COMMAND ${PROGRAM})
message(STATUS "a full disk: rc ${rc}\n${out}")
string(REGEX MATCHALL "the journal stopped: cannot write it: No space left on device" stops "${out}")
list(LENGTH stops stopped)
if(NOT rc EQUAL 0 OR NOT out MATCHES "0 wrong answers" OR NOT stopped EQUAL 1)
  message(FATAL_ERROR "a full disk: the answers changed, or the journal did not stop with one line")
endif()

# Two programs on one shared store (the examples' writer and reader), one
# journal: replayed against the shared store, their handles share a store
# again, since their creates named the same one.
if(SHARED AND WRITER)
  execute_process(COMMAND ${SERVER} run --dir ${WORK}/redis -- env "LD_PRELOAD=${FAULT}" VELKFAULT_JOURNAL=${WORK}/writer-reader.jsonl
                          VELKFAULT_JOURNAL_VALUES=full VELKSHARED_STORE=example sh -c "'${WRITER}' && '${READER}'"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "a writer and a reader on one store, with a journal: rc ${rc}\n${out}${err}")
  if(NOT rc EQUAL 0 OR NOT out MATCHES "hello from the writer")
    message(FATAL_ERROR "the writer and the reader did not share their store")
  endif()
  execute_process(COMMAND ${SERVER} run --dir ${WORK}/redis -- ${REPLAY} ${WORK}/writer-reader.jsonl --lib ${SHARED}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "their replay against the shared store: rc ${rc}\n${out}${err}")
  if(NOT rc EQUAL 0 OR NOT out MATCHES ", 0 diverged")
    message(FATAL_ERROR "the writer's and the reader's journal did not replay on one store")
  endif()
endif()

# A journal that is no file (a pipe): each process numbers its own calls.
expect("a journal into a pipe" 0 "0 wrong answers.*calls replayed against libvelkmock\\.so\\.0, 0 diverged"
  COMMAND sh -c "rm -f '${WORK}/pipe' && mkfifo '${WORK}/pipe' && { cat '${WORK}/pipe' > '${WORK}/piped.jsonl' & } && env LD_PRELOAD='${FAULT} ${MOCK}' VELKFAULT_JOURNAL='${WORK}/pipe' VELKFAULT_JOURNAL_VALUES=full '${PROGRAM}' && wait && '${REPLAY}' '${WORK}/piped.jsonl'")

# What cannot be journaled or replayed is said, with exit status 2.
file(WRITE ${WORK}/no-epoch.jsonl "{\"journal\": \"velkfault\", \"version\": 2, \"values\": \"full\"}\n")
expect("a header without its epoch is not added to" 2 "no-epoch\\.jsonl: its header has no epoch_ns"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/no-epoch.jsonl" COMMAND ${PROGRAM})
file(WRITE ${WORK}/moved.jsonl "{\"journal\": \"velkfault\", \"version\": 2, \"values\": \"full\", \"epoch_ns\": 1, \"seq\": \"00000000\", \"processes\": \"00000000\", \"busy\": \"00000000\", \"starts\": \"00000000\"}\n")
expect("a header whose counters moved is not added to" 2 "moved\\.jsonl: its header's [a-z]+ is not where it must be"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/moved.jsonl" COMMAND ${PROGRAM})
expect("a journal without values" 0 "0 wrong answers"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/hash.jsonl" COMMAND ${PROGRAM})
expect("its replay" 2 "record it again with VELKFAULT_JOURNAL_VALUES=full" COMMAND ${REPLAY} ${WORK}/hash.jsonl)
expect("values neither full, hash nor none" 2 "VELKFAULT_JOURNAL_VALUES is 'some', not full, hash or none"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/x.jsonl" "VELKFAULT_JOURNAL_VALUES=some" COMMAND ${PROGRAM})
expect("a journal that cannot be opened" 2 "VELKFAULT_JOURNAL: cannot open ${WORK}/no/such/folder"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/no/such/folder/x.jsonl" COMMAND ${PROGRAM})
file(WRITE ${WORK}/other.jsonl "{\"something\": \"else\"}\n")
expect("a file that is no journal is not added to" 2 "other\\.jsonl: it is not a journal of this version"
  ENV ${preload} "VELKFAULT_JOURNAL=${WORK}/other.jsonl" COMMAND ${PROGRAM})
file(WRITE ${WORK}/broken.jsonl "{\"journal\": \"velkfault\", \"version\": 2, \"values\": \"full\"}\n{\"seq\": 1,\n")
file(WRITE ${WORK}/waits.jsonl "{\"journal\": \"velkfault\", \"version\": 2, \"values\": \"full\"}\n"
  "{\"process\": 1, \"pid\": 1, \"ppid\": 0, \"program\": \"p\", \"parent\": null, \"forked_after\": null}\n"
  "{\"seq\": 1, \"process\": 1, \"pid\": 1, \"thread\": 1, \"handle\": \"\", \"call\": \"velk_version\", \"start_us\": 0, \"duration_us\": 0, \"overlapped\": false, \"within\": null, \"fault\": \"delayed\", \"plan\": {\"delay_us\": 4294967295}, \"args\": {}, \"rc\": \"0.0.0-mock\", \"out\": null}\n")
expect("a plan's delay of an hour" 2 "line 3: plan: a delay longer than this replay waits" COMMAND ${REPLAY} ${WORK}/waits.jsonl)
expect("trace --trace" 2 "--trace is replay's" COMMAND ${JOURNAL} trace ${WORK}/waits.jsonl --trace x)
expect("a line that is no JSON" 2 "velk-replay: line 2: not JSON" COMMAND ${REPLAY} ${WORK}/broken.jsonl)
expect("velk-replay --help" 0 "usage: velk-journal replay JOURNAL" COMMAND ${REPLAY} --help)
expect("no journal" 2 "velk-replay: no journal given\nusage:" COMMAND ${REPLAY})
expect("no command" 2 "velk-journal: no command given\nusage:" COMMAND ${JOURNAL})
expect("an unknown command" 2 "unknown command 'replays'" COMMAND ${JOURNAL} replays x)
expect("two journals" 2 "one journal at a time" COMMAND ${REPLAY} a b)
expect("an unknown option" 2 "unknown option '--frob'" COMMAND ${REPLAY} a --frob)
expect("--lib without a library" 2 "--lib needs a value" COMMAND ${REPLAY} a --lib)
expect("options before the command" 0 "0 diverged" COMMAND ${JOURNAL} --lib mock replay ${WORK}/threads.jsonl)
file(COPY ${WORK}/threads.jsonl DESTINATION ${WORK}/dash)
file(RENAME ${WORK}/dash/threads.jsonl ${WORK}/dash/-threads.jsonl)
expect("a journal whose name begins with -, after --" 0 "0 diverged"
  COMMAND sh -c "cd '${WORK}/dash' && '${JOURNAL}' replay --ignore ,location,,order, -- -threads.jsonl")
expect("-h" 0 "usage: velk-journal replay JOURNAL" COMMAND ${JOURNAL} -h)
expect("an empty word" 2 "unknown command ''" COMMAND sh -c "'${JOURNAL}' '' x")
expect("a trace that cannot be written" 2 "cannot write ${WORK}/no/such/folder/t\\.json: No such file or directory"
  COMMAND ${JOURNAL} replay ${WORK}/threads.jsonl --trace ${WORK}/no/such/folder/t.json)
expect("an unknown name to ignore" 2 "--ignore: no answer holds 'locaton'; the names are .*location.*order"
  COMMAND ${REPLAY} a --ignore locaton)
expect("a journal read from a pipe" 0 "0 diverged"
  COMMAND sh -c "cat '${WORK}/threads.jsonl' | '${REPLAY}' /dev/stdin")
expect("a journal that is not there" 2 "cannot read ${WORK}/none: No such file or directory"
  COMMAND ${REPLAY} ${WORK}/none)
expect("a library that cannot be loaded" 2 "cannot load ${WORK}/none\\.so"
  COMMAND ${REPLAY} ${WORK}/threads.jsonl --lib ${WORK}/none.so)
expect("a library without the functions" 2 "lacks velk_version" COMMAND ${REPLAY} ${WORK}/threads.jsonl --lib libc.so.6)
if(SHARED)
  expect("a store that cannot be reached" 2
    "cannot be used: the journal's first create \\(call 1\\) made a handle, here it made none: .*127\\.0\\.0\\.1:1"
    ENV "VELKSHARED_URL=redis://127.0.0.1:1" "VELKSHARED_TIMEOUT_MS=500"
    COMMAND ${REPLAY} ${WORK}/threads.jsonl --lib ${SHARED})
endif()
