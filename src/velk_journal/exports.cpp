// SPDX-License-Identifier: MIT
// The 28 functions, defined by velk-journal itself, so that the calls the
// library replayed against makes of itself through their names reach it,
// as they reached libvelkfault when the journal was recorded: each goes
// through the fault layer with the effect the journal recorded for it, on
// to the library's own definition.
#include "velk_journal/made.hpp"
#include "velkmock.h"

#define VELKJOURNAL_EXPORT __attribute__((visibility("default")))

using velkjournal::inner_call;
namespace vf = velkfault;

extern "C" {

VELKJOURNAL_EXPORT const char* velk_version(void) {
    return inner_call<vf::kVersion>();
}
VELKJOURNAL_EXPORT const char* velk_revision(void) {
    return inner_call<vf::kRevision>();
}
VELKJOURNAL_EXPORT const char* velk_build_time(void) {
    return inner_call<vf::kBuildTime>();
}
VELKJOURNAL_EXPORT velk_client* velk_client_create(const void* config) {
    return inner_call<vf::kClientCreate>(config);
}
VELKJOURNAL_EXPORT void velk_client_destroy(velk_client* client) {
    inner_call<vf::kClientDestroy>(client);
}
VELKJOURNAL_EXPORT void velk_sdk_metrics_ctx_reset(velk_sdk_metrics_ctx_t* ctx) {
    inner_call<vf::kMetricsCtxReset>(ctx);
}
VELKJOURNAL_EXPORT int32_t velk_client_get_metrics(const velk_client* client,
                                                   velk_sdk_metrics_ctx_t* metrics) {
    return inner_call<vf::kClientGetMetrics>(client, metrics);
}
VELKJOURNAL_EXPORT int32_t velk_sdk_metrics_serialize(const velk_sdk_metrics_ctx_t* metrics, char* out,
                                                      uint64_t out_size, uint64_t* out_len) {
    return inner_call<vf::kMetricsSerialize>(metrics, out, out_size, out_len);
}
VELKJOURNAL_EXPORT int32_t velk_batch_put(velk_client* client, const char* ns, const velk_put_item_t* items,
                                          int32_t count, velk_put_result_t* results, int32_t result_capacity,
                                          const void* reserved) {
    return inner_call<vf::kBatchPut>(client, ns, items, count, results, result_capacity, reserved);
}
VELKJOURNAL_EXPORT int32_t velk_batch_get(velk_client* client, const char* ns, const velk_get_item_t* items,
                                          int32_t count, velk_get_callback_t callback, void* user_data,
                                          const void* reserved) {
    return inner_call<vf::kBatchGet>(client, ns, items, count, callback, user_data, reserved);
}
VELKJOURNAL_EXPORT int32_t velk_batch_get_into(velk_client* client, const char* ns,
                                               const velk_get_item_t* items, int32_t count,
                                               void* const* buffers, const uint64_t* buffer_sizes,
                                               int32_t* statuses, uint64_t* value_lens,
                                               const void* reserved) {
    return inner_call<vf::kBatchGetInto>(client, ns, items, count, buffers, buffer_sizes, statuses,
                                         value_lens, reserved);
}
VELKJOURNAL_EXPORT int32_t velk_batch_delete_items(velk_client* client, const char* ns,
                                                   const velk_delete_item_t* items, int32_t count,
                                                   velk_delete_result_t* results, int32_t result_capacity,
                                                   const void* reserved) {
    return inner_call<vf::kBatchDeleteItems>(client, ns, items, count, results, result_capacity, reserved);
}
VELKJOURNAL_EXPORT int32_t velk_batch_delete(velk_client* client, const char* ns, const char* const* keys,
                                             int32_t count, const int32_t* options, int32_t* statuses,
                                             int32_t status_capacity, const void* reserved) {
    return inner_call<vf::kBatchDelete>(client, ns, keys, count, options, statuses, status_capacity,
                                        reserved);
}
VELKJOURNAL_EXPORT int32_t velk_batch_query(velk_client* client, const char* ns, const char* const* keys,
                                            int32_t count, const velk_query_options_t* options,
                                            velk_query_result_t* results, int32_t result_capacity) {
    return inner_call<vf::kBatchQuery>(client, ns, keys, count, options, results, result_capacity);
}
VELKJOURNAL_EXPORT void velk_query_result_free(velk_query_result_t* results, int32_t count) {
    inner_call<vf::kQueryResultFree>(results, count);
}
VELKJOURNAL_EXPORT int velk_create_namespace(velk_client* client, const char* ns,
                                             const velk_namespace_options_t* options) {
    return inner_call<vf::kCreateNamespace>(client, ns, options);
}
VELKJOURNAL_EXPORT int velk_update_namespace(velk_client* client, const char* ns,
                                             const velk_namespace_options_t* options) {
    return inner_call<vf::kUpdateNamespace>(client, ns, options);
}
VELKJOURNAL_EXPORT int velk_delete_namespace(velk_client* client, const char* ns) {
    return inner_call<vf::kDeleteNamespace>(client, ns);
}
VELKJOURNAL_EXPORT int velk_get_namespace(velk_client* client, const char* ns, velk_namespace_info_t* info) {
    return inner_call<vf::kGetNamespace>(client, ns, info);
}
VELKJOURNAL_EXPORT int velk_list_namespaces(velk_client* client, velk_namespace_info_t* infos,
                                            int info_capacity, int* total) {
    return inner_call<vf::kListNamespaces>(client, infos, info_capacity, total);
}
VELKJOURNAL_EXPORT int velk_get_nodes(velk_client* client, const velk_node_selector_t* selector,
                                      velk_node_info_t* nodes, int node_capacity) {
    return inner_call<vf::kGetNodes>(client, selector, nodes, node_capacity);
}
VELKJOURNAL_EXPORT velk_client* velk_ll_create(const velk_ll_config_t* config) {
    return inner_call<vf::kLlCreate>(config);
}
VELKJOURNAL_EXPORT void velk_ll_client_destroy(velk_client* client) {
    inner_call<vf::kLlClientDestroy>(client);
}
VELKJOURNAL_EXPORT int32_t velk_ll_batch_put(velk_client* client, const velk_ll_put_item_t* items,
                                             int32_t count, velk_put_result_t* results,
                                             int32_t result_capacity, const void* reserved,
                                             const void* ignored) {
    return inner_call<vf::kLlBatchPut>(client, items, count, results, result_capacity, reserved, ignored);
}
VELKJOURNAL_EXPORT int32_t velk_ll_batch_get(velk_client* client, const char* const* keys, int32_t count,
                                             velk_get_callback_t callback, void* user_data,
                                             const void* reserved, const void* ignored) {
    return inner_call<vf::kLlBatchGet>(client, keys, count, callback, user_data, reserved, ignored);
}
VELKJOURNAL_EXPORT int32_t velk_ll_batch_get_into(velk_client* client, const char* const* keys, int32_t count,
                                                  void* const* buffers, const uint64_t* buffer_sizes,
                                                  int32_t* statuses, uint64_t* value_lens,
                                                  const void* reserved) {
    return inner_call<vf::kLlBatchGetInto>(client, keys, count, buffers, buffer_sizes, statuses, value_lens,
                                           reserved);
}
VELKJOURNAL_EXPORT int32_t velk_ll_batch_delete(velk_client* client, const char* const* keys, int32_t count,
                                                int32_t* statuses, int32_t status_capacity,
                                                const void* reserved, const void* ignored) {
    return inner_call<vf::kLlBatchDelete>(client, keys, count, statuses, status_capacity, reserved, ignored);
}
VELKJOURNAL_EXPORT int32_t velk_ll_batch_query(velk_client* client, const char* const* keys, int32_t count,
                                               velk_query_result_t* results, int32_t result_capacity,
                                               const void* ignored) {
    return inner_call<vf::kLlBatchQuery>(client, keys, count, results, result_capacity, ignored);
}

}  // extern "C"
