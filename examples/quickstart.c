/* SPDX-License-Identifier: MIT */
/* quickstart: a tour of the client interface, written the way a program
 * built against the SDK uses it. Link with -lvelkmock and run: no cluster
 * needed. */
#include <stdio.h>
#include <string.h>

#include "velkmock.h"

#define COUNT 3

static int print_values(int32_t count, const void* const* values, const uint64_t* lens,
                        const int32_t* statuses, void* user_data) {
    int32_t i;
    (void)user_data;
    for (i = 0; i < count; ++i) {
        printf("  get[%d]: status %d, %.*s\n", (int)i, (int)statuses[i], (int)lens[i],
               values[i] != NULL ? (const char*)values[i] : "");
    }
    return 0;
}

int main(void) {
    const char* keys[COUNT] = {"user:1", "user:2", "user:3"};
    const char* texts[COUNT] = {"alice", "bob", "carol"};
    const void* parts[COUNT];
    size_t lens[COUNT];
    velk_meta_pair_t meta[2] = {{"team", "blue"}, {"tier", "gold"}};
    velk_put_item_t items[COUNT];
    velk_put_result_t put_results[COUNT];
    velk_get_item_t get_items[COUNT];
    char buffers[COUNT][16];
    void* buffer_ptrs[COUNT];
    uint64_t buffer_sizes[COUNT];
    int32_t statuses[COUNT];
    uint64_t value_lens[COUNT];
    velk_query_options_t query_options = {0, 1};
    velk_query_result_t query_results[COUNT];
    velk_namespace_options_t ns_options = {1 << 20, "lfu", 0.5};
    velk_namespace_info_t infos[4];
    velk_node_selector_t selector = {NULL, "cn-beijing", NULL, NULL, NULL};
    velk_node_info_t nodes[2];
    int total = 0;
    int i;
    int n;
    int config = 0; /* the mock only checks that a configuration is given */
    velk_client* client = velk_client_create(&config);

    if (client == NULL) {
        fprintf(stderr, "cannot create a client\n");
        return 1;
    }
    printf("libvelkmock %s (%s)\n", velk_version(), velk_revision());

    /* Namespaces come into being at the first put; this one gets settings. */
    velk_create_namespace(client, "sessions", &ns_options);

    memset(items, 0, sizeof items);
    for (i = 0; i < COUNT; ++i) {
        parts[i] = texts[i];
        lens[i] = strlen(texts[i]);
        items[i].key = keys[i];
        items[i].value_parts = &parts[i];
        items[i].value_part_lens = &lens[i];
        items[i].value_part_count = 1;
        items[i].tag = (uint32_t)(100 + i);
        items[i].replica_count = 3;
        items[i].metadata = i == 0 ? meta : NULL;
        items[i].metadata_count = i == 0 ? 2 : 0;
    }
    if (velk_batch_put(client, "users", items, COUNT, put_results, COUNT, NULL) != VELK_OK) {
        fprintf(stderr, "put failed\n");
        return 1;
    }
    for (i = 0; i < COUNT; ++i) {
        printf("put[%d]: status %d at %s\n", i, (int)put_results[i].status, put_results[i].location);
    }

    /* Read back: lent to a callback, then copied into our own buffers. */
    memset(get_items, 0, sizeof get_items);
    for (i = 0; i < COUNT; ++i) {
        get_items[i].key = keys[i];
        buffer_ptrs[i] = buffers[i];
        buffer_sizes[i] = sizeof buffers[i];
    }
    printf("batch get:\n");
    velk_batch_get(client, "users", get_items, COUNT, print_values, NULL, NULL);
    velk_batch_get_into(client, "users", get_items, COUNT, buffer_ptrs, buffer_sizes, statuses, value_lens,
                        NULL);
    for (i = 0; i < COUNT; ++i) {
        printf("get_into[%d]: status %d, %.*s\n", i, (int)statuses[i], (int)value_lens[i], buffers[i]);
    }

    /* Query with details; the metadata copies are ours until released. */
    n = velk_batch_query(client, "users", keys, COUNT, &query_options, query_results, COUNT);
    for (i = 0; i < n; ++i) {
        printf("query[%d]: %s %s, %llu bytes, %d replicas, %d metadata pairs, tag %u\n", i,
               query_results[i].key, query_results[i].status, (unsigned long long)query_results[i].value_len,
               (int)query_results[i].replica_count, (int)query_results[i].metadata_count,
               query_results[i].details != NULL ? query_results[i].details->tag : 0u);
    }
    velk_query_result_free(query_results, n);

    /* Delete one key that exists and one that does not. */
    {
        const char* doomed[2] = {"user:2", "user:9"};
        int32_t delete_statuses[2];
        velk_batch_delete(client, "users", doomed, 2, NULL, delete_statuses, 2, NULL);
        printf("delete: %s -> %d, %s -> %d\n", doomed[0], (int)delete_statuses[0], doomed[1],
               (int)delete_statuses[1]);
    }

    n = velk_list_namespaces(client, infos, 4, &total);
    printf("%d namespaces:\n", total);
    for (i = 0; i < n; ++i) {
        printf("  %s: %llu bytes used, policy %s, capacity %lld\n", infos[i].name,
               (unsigned long long)infos[i].used_bytes, infos[i].eviction_policy,
               (long long)infos[i].capacity_bytes);
    }

    n = velk_get_nodes(client, &selector, nodes, 2);
    for (i = 0; i < n; ++i) {
        printf("node in %s: %s at %s\n", nodes[i].region, nodes[i].node_id, nodes[i].endpoint);
    }
    velk_client_destroy(client);

    /* The flat low-level interface works on the namespace "ll". */
    {
        velk_ll_config_t ll_config = {"quickstart"};
        velk_client* ll = velk_ll_create(&ll_config);
        const char* ll_keys[1] = {"counter"};
        const void* ll_parts[1] = {"42"};
        uint64_t ll_lens[1] = {2};
        velk_ll_put_item_t ll_item = {"counter", ll_parts, ll_lens, 1};
        velk_put_result_t ll_result;
        char ll_buffer[8];
        void* ll_buffers[1] = {ll_buffer};
        uint64_t ll_sizes[1] = {sizeof ll_buffer};
        int32_t ll_status = 0;
        uint64_t ll_len = 0;
        velk_sdk_metrics_ctx_t metrics;
        char text[8];
        uint64_t text_len = 0;

        if (ll == NULL) {
            fprintf(stderr, "cannot create a low-level client\n");
            return 1;
        }
        velk_ll_batch_put(ll, &ll_item, 1, &ll_result, 1, NULL, NULL);
        velk_ll_batch_get_into(ll, ll_keys, 1, ll_buffers, ll_sizes, &ll_status, &ll_len, NULL);
        printf("low-level: %s = %.*s (status %d)\n", ll_keys[0], (int)ll_len, ll_buffer, (int)ll_status);
        velk_client_get_metrics(ll, &metrics);
        velk_sdk_metrics_serialize(&metrics, text, sizeof text, &text_len);
        printf("metrics: %llu bytes of text\n", (unsigned long long)text_len);
        velk_ll_client_destroy(ll);
    }
    return 0;
}
