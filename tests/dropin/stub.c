/* SPDX-License-Identifier: MIT */
/* A stand-in with another name that exports the same velk_ functions as
 * libvelkmock, each answering with an error, like an SDK whose cluster
 * cannot be reached. A program linked against it proves that preloading
 * libvelkmock.so.0 replaces such a library without relinking. */
#include <stddef.h>

#include "velkmock.h"

VELK_API const char* velk_version(void) {
    return "stand-in";
}

VELK_API const char* velk_revision(void) {
    return "stand-in";
}

VELK_API const char* velk_build_time(void) {
    return "stand-in";
}

VELK_API velk_client* velk_client_create(const void* config) {
    (void)config;
    return NULL;
}

VELK_API void velk_client_destroy(velk_client* client) {
    (void)client;
}

VELK_API void velk_sdk_metrics_ctx_reset(velk_sdk_metrics_ctx_t* ctx) {
    (void)ctx;
}

VELK_API int32_t velk_client_get_metrics(const velk_client* client, velk_sdk_metrics_ctx_t* metrics) {
    (void)client;
    (void)metrics;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_sdk_metrics_serialize(const velk_sdk_metrics_ctx_t* metrics, char* out,
                                            uint64_t out_size, uint64_t* out_len) {
    (void)metrics;
    (void)out;
    (void)out_size;
    (void)out_len;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_batch_put(velk_client* client, const char* ns, const velk_put_item_t* items,
                                int32_t count, velk_put_result_t* results, int32_t result_capacity,
                                const void* reserved) {
    (void)client;
    (void)ns;
    (void)items;
    (void)count;
    (void)results;
    (void)result_capacity;
    (void)reserved;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_batch_get(velk_client* client, const char* ns, const velk_get_item_t* items,
                                int32_t count, velk_get_callback_t callback, void* user_data,
                                const void* reserved) {
    (void)client;
    (void)ns;
    (void)items;
    (void)count;
    (void)callback;
    (void)user_data;
    (void)reserved;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_batch_get_into(velk_client* client, const char* ns, const velk_get_item_t* items,
                                     int32_t count, void* const* buffers, const uint64_t* buffer_sizes,
                                     int32_t* statuses, uint64_t* value_lens, const void* reserved) {
    (void)client;
    (void)ns;
    (void)items;
    (void)count;
    (void)buffers;
    (void)buffer_sizes;
    (void)statuses;
    (void)value_lens;
    (void)reserved;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_batch_delete_items(velk_client* client, const char* ns, const velk_delete_item_t* items,
                                         int32_t count, velk_delete_result_t* results,
                                         int32_t result_capacity, const void* reserved) {
    (void)client;
    (void)ns;
    (void)items;
    (void)count;
    (void)results;
    (void)result_capacity;
    (void)reserved;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_batch_delete(velk_client* client, const char* ns, const char* const* keys,
                                   int32_t count, const int32_t* options, int32_t* statuses,
                                   int32_t status_capacity, const void* reserved) {
    (void)client;
    (void)ns;
    (void)keys;
    (void)count;
    (void)options;
    (void)statuses;
    (void)status_capacity;
    (void)reserved;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_batch_query(velk_client* client, const char* ns, const char* const* keys, int32_t count,
                                  const velk_query_options_t* options, velk_query_result_t* results,
                                  int32_t result_capacity) {
    (void)client;
    (void)ns;
    (void)keys;
    (void)count;
    (void)options;
    (void)results;
    (void)result_capacity;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API void velk_query_result_free(velk_query_result_t* results, int32_t count) {
    (void)results;
    (void)count;
}

VELK_API int velk_create_namespace(velk_client* client, const char* ns,
                                   const velk_namespace_options_t* options) {
    (void)client;
    (void)ns;
    (void)options;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int velk_update_namespace(velk_client* client, const char* ns,
                                   const velk_namespace_options_t* options) {
    (void)client;
    (void)ns;
    (void)options;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int velk_delete_namespace(velk_client* client, const char* ns) {
    (void)client;
    (void)ns;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int velk_get_namespace(velk_client* client, const char* ns, velk_namespace_info_t* info) {
    (void)client;
    (void)ns;
    (void)info;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int velk_list_namespaces(velk_client* client, velk_namespace_info_t* infos, int info_capacity,
                                  int* total) {
    (void)client;
    (void)infos;
    (void)info_capacity;
    (void)total;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int velk_get_nodes(velk_client* client, const velk_node_selector_t* selector,
                            velk_node_info_t* nodes, int node_capacity) {
    (void)client;
    (void)selector;
    (void)nodes;
    (void)node_capacity;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API velk_client* velk_ll_create(const velk_ll_config_t* config) {
    (void)config;
    return NULL;
}

VELK_API void velk_ll_client_destroy(velk_client* client) {
    (void)client;
}

VELK_API int32_t velk_ll_batch_put(velk_client* client, const velk_ll_put_item_t* items, int32_t count,
                                   velk_put_result_t* results, int32_t result_capacity, const void* reserved,
                                   const void* ignored) {
    (void)client;
    (void)items;
    (void)count;
    (void)results;
    (void)result_capacity;
    (void)reserved;
    (void)ignored;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_ll_batch_get(velk_client* client, const char* const* keys, int32_t count,
                                   velk_get_callback_t callback, void* user_data, const void* reserved,
                                   const void* ignored) {
    (void)client;
    (void)keys;
    (void)count;
    (void)callback;
    (void)user_data;
    (void)reserved;
    (void)ignored;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_ll_batch_get_into(velk_client* client, const char* const* keys, int32_t count,
                                        void* const* buffers, const uint64_t* buffer_sizes, int32_t* statuses,
                                        uint64_t* value_lens, const void* reserved) {
    (void)client;
    (void)keys;
    (void)count;
    (void)buffers;
    (void)buffer_sizes;
    (void)statuses;
    (void)value_lens;
    (void)reserved;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_ll_batch_delete(velk_client* client, const char* const* keys, int32_t count,
                                      int32_t* statuses, int32_t status_capacity, const void* reserved,
                                      const void* ignored) {
    (void)client;
    (void)keys;
    (void)count;
    (void)statuses;
    (void)status_capacity;
    (void)reserved;
    (void)ignored;
    return VELK_ERR_INVALID_ARGUMENT;
}

VELK_API int32_t velk_ll_batch_query(velk_client* client, const char* const* keys, int32_t count,
                                     velk_query_result_t* results, int32_t result_capacity,
                                     const void* ignored) {
    (void)client;
    (void)keys;
    (void)count;
    (void)results;
    (void)result_capacity;
    (void)ignored;
    return VELK_ERR_INVALID_ARGUMENT;
}
