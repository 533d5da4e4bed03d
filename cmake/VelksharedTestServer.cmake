# SPDX-License-Identifier: MIT
# Private redis-servers for CTest, through velkshared-server.
#
#   velkshared_add_test_server(NAME [CLUSTER MASTERS [REPLICAS N]] [TESTS test...]
#                              [SERVER_OPTIONS option...])
#
# adds the tests NAME.start and NAME.stop, the set-up and the clean-up of the
# CTest fixture NAME: a private server (or, with CLUSTER, a local cluster) with
# nothing saved, on Unix sockets in ${CMAKE_CURRENT_BINARY_DIR}/NAME (or in a
# short private folder, when that path is too long for a socket), started
# before the first test that requires it and stopped, by pid, after the last.
# It sets NAME_URL to the server's URL (known before the server starts; with
# the password of a --requirepass among the SERVER_OPTIONS).
#
#   velkshared_use_test_server(NAME test...)
#
# makes each test require the fixture, with VELKSHARED_URL set to the server
# and VELKSHARED_STORE to the test's own name, so that tests run in parallel
# (ctest -j) without sharing data. TESTS above does the same for the tests
# named there. A test added in another way (gtest_discover_tests, say) can use
#   PROPERTIES FIXTURES_REQUIRED NAME ENVIRONMENT "VELKSHARED_URL=${NAME_URL}"
# and choose its stores itself.
#
# VELKSHARED_SERVER names the velkshared-server command; by default the one
# installed with this package (then any on the PATH).
include_guard(GLOBAL)

if(NOT VELKSHARED_SERVER)
  find_program(VELKSHARED_SERVER velkshared-server HINTS "${CMAKE_CURRENT_LIST_DIR}/../../../bin" NO_CACHE)
endif()

function(velkshared_use_test_server name)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED ${name})
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "VELKSHARED_URL=${${name}_URL}"
                 "VELKSHARED_STORE=${test}")
  endforeach()
endfunction()

function(velkshared_add_test_server name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "CLUSTER;REPLICAS" "TESTS;SERVER_OPTIONS")
  if(NOT VELKSHARED_SERVER)
    message(FATAL_ERROR "velkshared_add_test_server: velkshared-server was not found (set VELKSHARED_SERVER)")
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(shape "")
  if(arg_CLUSTER)
    list(APPEND shape --cluster ${arg_CLUSTER})
    if(arg_REPLICAS)
      list(APPEND shape --replicas ${arg_REPLICAS})
    endif()
  elseif(arg_REPLICAS)
    message(FATAL_ERROR "velkshared_add_test_server: REPLICAS is for a CLUSTER")
  endif()
  set(options "")
  if(arg_SERVER_OPTIONS)
    set(options -- ${arg_SERVER_OPTIONS})
  endif()
  # With the server options: a password among them is in the URL.
  execute_process(COMMAND ${VELKSHARED_SERVER} url --dir ${dir} ${shape} ${options}
                  OUTPUT_VARIABLE url OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "velkshared_add_test_server: ${VELKSHARED_SERVER} url failed")
  endif()
  set(${name}_URL "${url}" PARENT_SCOPE)
  set(${name}_URL "${url}")
  # A cluster takes some seconds to come up: its set-up waits up to 60.
  add_test(NAME ${name}.start COMMAND ${CMAKE_COMMAND} -E env VELKSHARED_SERVER_WAIT=60
           ${VELKSHARED_SERVER} start --dir ${dir} ${shape} ${options})
  add_test(NAME ${name}.stop COMMAND ${VELKSHARED_SERVER} stop --dir ${dir})
  set_tests_properties(${name}.start PROPERTIES FIXTURES_SETUP ${name} TIMEOUT 120)
  set_tests_properties(${name}.stop PROPERTIES FIXTURES_CLEANUP ${name} TIMEOUT 60)
  if(arg_TESTS)
    velkshared_use_test_server(${name} ${arg_TESTS})
  endif()
endfunction()
