# SPDX-License-Identifier: MIT
# Fails unless the library exports exactly the documented velk_ functions
# (plus -DEXTRA=<names>) and carries its SONAME (-DSONAME, by default
# libvelkmock.so.0). Run with -DLIB=<path> -DNM=<nm> -DREADELF=<readelf>.
if(NOT SONAME)
  set(SONAME libvelkmock.so.0)
endif()
string(REPLACE "," ";" EXTRA "${EXTRA}")
set(expected
  velk_batch_delete velk_batch_delete_items velk_batch_get velk_batch_get_into velk_batch_put
  velk_batch_query velk_build_time velk_client_create velk_client_destroy velk_client_get_metrics
  velk_create_namespace velk_delete_namespace velk_get_namespace velk_get_nodes
  velk_list_namespaces velk_ll_batch_delete velk_ll_batch_get velk_ll_batch_get_into
  velk_ll_batch_put velk_ll_batch_query velk_ll_client_destroy velk_ll_create
  velk_query_result_free velk_revision velk_sdk_metrics_ctx_reset velk_sdk_metrics_serialize
  velk_update_namespace velk_version ${EXTRA})

execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(exported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^ ]+)$")
    list(APPEND exported "${CMAKE_MATCH_2}")
    if(NOT CMAKE_MATCH_1 STREQUAL "T")
      message(SEND_ERROR "exported symbol is not a function: ${line}")
    endif()
  endif()
endforeach()
list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  set(extra ${exported})
  list(REMOVE_ITEM extra ${expected})
  set(missing ${expected})
  list(REMOVE_ITEM missing ${exported})
  message(FATAL_ERROR "export mismatch\n  unexpected: ${extra}\n  missing: ${missing}")
endif()

execute_process(COMMAND ${READELF} -d ${LIB} OUTPUT_VARIABLE dynamic)
string(REPLACE "." "\\." soname_pattern "${SONAME}")
if(NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[${soname_pattern}\\]")
  message(FATAL_ERROR "SONAME is not ${SONAME}")
endif()
list(LENGTH exported n)
message(STATUS "exports: ${n} functions, SONAME ${SONAME}")
