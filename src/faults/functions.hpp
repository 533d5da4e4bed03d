// SPDX-License-Identifier: MIT
// The 28 functions of the client interface, in one list: their names, what
// they return and whether a per-item rule applies to them. The fault layer,
// the journal and velk-journal all take them from here.
#pragma once

#include <string_view>

namespace velkfault {

enum class Returns { Status, Handle, Nothing, Text };

// X(enumerator, name, what it returns, whether items can be dropped)
#define VELKFAULT_FUNCTIONS(X)                                        \
    X(kVersion, "velk_version", Text, false)                          \
    X(kRevision, "velk_revision", Text, false)                        \
    X(kBuildTime, "velk_build_time", Text, false)                     \
    X(kClientCreate, "velk_client_create", Handle, false)             \
    X(kClientDestroy, "velk_client_destroy", Nothing, false)          \
    X(kMetricsCtxReset, "velk_sdk_metrics_ctx_reset", Nothing, false) \
    X(kClientGetMetrics, "velk_client_get_metrics", Status, false)    \
    X(kMetricsSerialize, "velk_sdk_metrics_serialize", Status, false) \
    X(kBatchPut, "velk_batch_put", Status, true)                      \
    X(kBatchGet, "velk_batch_get", Status, false)                     \
    X(kBatchGetInto, "velk_batch_get_into", Status, false)            \
    X(kBatchDeleteItems, "velk_batch_delete_items", Status, true)     \
    X(kBatchDelete, "velk_batch_delete", Status, true)                \
    X(kBatchQuery, "velk_batch_query", Status, false)                 \
    X(kQueryResultFree, "velk_query_result_free", Nothing, false)     \
    X(kCreateNamespace, "velk_create_namespace", Status, false)       \
    X(kUpdateNamespace, "velk_update_namespace", Status, false)       \
    X(kDeleteNamespace, "velk_delete_namespace", Status, false)       \
    X(kGetNamespace, "velk_get_namespace", Status, false)             \
    X(kListNamespaces, "velk_list_namespaces", Status, false)         \
    X(kGetNodes, "velk_get_nodes", Status, false)                     \
    X(kLlCreate, "velk_ll_create", Handle, false)                     \
    X(kLlClientDestroy, "velk_ll_client_destroy", Nothing, false)     \
    X(kLlBatchPut, "velk_ll_batch_put", Status, true)                 \
    X(kLlBatchGet, "velk_ll_batch_get", Status, false)                \
    X(kLlBatchGetInto, "velk_ll_batch_get_into", Status, false)       \
    X(kLlBatchDelete, "velk_ll_batch_delete", Status, true)           \
    X(kLlBatchQuery, "velk_ll_batch_query", Status, false)

enum Fn : int {
#define VELKFAULT_ENUMERATOR(fn, name, returns, per_item) fn,
    VELKFAULT_FUNCTIONS(VELKFAULT_ENUMERATOR)
#undef VELKFAULT_ENUMERATOR
        kFunctionCount
};

struct FunctionInfo {
    const char* name;
    Returns returns;
    bool per_item;  // velkfault_fail_item applies
};

inline constexpr FunctionInfo kFunctions[kFunctionCount] = {
#define VELKFAULT_INFO(fn, name, returns, per_item) {name, Returns::returns, per_item},
    VELKFAULT_FUNCTIONS(VELKFAULT_INFO)
#undef VELKFAULT_INFO
};

// The function of that name, or -1.
constexpr int find_function(std::string_view name) noexcept {
    for (int i = 0; i < kFunctionCount; ++i) {
        if (name == kFunctions[i].name) {
            return i;
        }
    }
    return -1;
}

}  // namespace velkfault
