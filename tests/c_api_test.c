/* SPDX-License-Identifier: MIT */
/* The public header as a C11 program sees it: the record layout that callers
 * compiled against the SDK rely on is pinned here (x86-64), and a short round
 * trip proves the header is usable from C. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "velkmock.h"
#include "velkshared.h"

#define PIN_SIZE(type, size) _Static_assert(sizeof(type) == (size), #type " size")
#define PIN(type, field, offset) _Static_assert(offsetof(type, field) == (offset), #type "." #field " offset")

PIN_SIZE(velk_meta_pair_t, 16);
PIN(velk_meta_pair_t, key, 0);
PIN(velk_meta_pair_t, value, 8);

PIN_SIZE(velk_put_item_t, 64);
PIN(velk_put_item_t, key, 0);
PIN(velk_put_item_t, value_parts, 8);
PIN(velk_put_item_t, value_part_lens, 16);
PIN(velk_put_item_t, value_part_count, 24);
PIN(velk_put_item_t, tag, 28);
PIN(velk_put_item_t, replica_count, 32);
PIN(velk_put_item_t, reserved, 40);
PIN(velk_put_item_t, metadata, 48);
PIN(velk_put_item_t, metadata_count, 56);

PIN_SIZE(velk_put_result_t, 260);
PIN(velk_put_result_t, location, 0);
PIN(velk_put_result_t, status, 256);

PIN_SIZE(velk_get_item_t, 48);
PIN(velk_get_item_t, key, 0);
PIN(velk_get_item_t, reserved, 8);
PIN(velk_get_item_t, meta_filter, 32);
PIN(velk_get_item_t, meta_filter_count, 40);

PIN_SIZE(velk_delete_item_t, 24);
PIN(velk_delete_item_t, key, 0);
PIN(velk_delete_item_t, option, 8);
PIN(velk_delete_item_t, reserved, 16);

PIN_SIZE(velk_delete_result_t, 260);
PIN(velk_delete_result_t, location, 0);
PIN(velk_delete_result_t, status, 256);

PIN_SIZE(velk_query_detail_t, 24);
PIN(velk_query_detail_t, tag, 0);
PIN(velk_query_detail_t, value_len, 8);
PIN(velk_query_detail_t, timestamp_ms, 16);

PIN_SIZE(velk_query_result_t, 336);
PIN(velk_query_result_t, key, 0);
PIN(velk_query_result_t, status, 256);
PIN(velk_query_result_t, replica_count, 288);
PIN(velk_query_result_t, value_len, 296);
PIN(velk_query_result_t, metadata, 304);
PIN(velk_query_result_t, metadata_count, 312);
PIN(velk_query_result_t, details, 320);
PIN(velk_query_result_t, detail_count, 328);

PIN_SIZE(velk_query_options_t, 8);
PIN(velk_query_options_t, reserved, 0);
PIN(velk_query_options_t, include_details, 4);

PIN_SIZE(velk_namespace_options_t, 24);
PIN(velk_namespace_options_t, capacity_bytes, 0);
PIN(velk_namespace_options_t, eviction_policy, 8);
PIN(velk_namespace_options_t, policy_param, 16);

PIN_SIZE(velk_namespace_info_t, 192);
PIN(velk_namespace_info_t, name, 0);
PIN(velk_namespace_info_t, capacity_bytes, 128);
PIN(velk_namespace_info_t, used_bytes, 136);
PIN(velk_namespace_info_t, eviction_policy, 144);
PIN(velk_namespace_info_t, policy_param, 176);
PIN(velk_namespace_info_t, created_at_ms, 184);

PIN_SIZE(velk_node_info_t, 1080);
PIN(velk_node_info_t, node_id, 0);
PIN(velk_node_info_t, endpoint, 128);
PIN(velk_node_info_t, region, 384);
PIN(velk_node_info_t, zone, 448);
PIN(velk_node_info_t, rack, 512);
PIN(velk_node_info_t, cluster, 576);
PIN(velk_node_info_t, node_class, 640);
PIN(velk_node_info_t, state, 672);
PIN(velk_node_info_t, reserved_a, 704);
PIN(velk_node_info_t, capacity_bytes, 1056);
PIN(velk_node_info_t, reserved_b, 1064);
PIN(velk_node_info_t, weight, 1072);

PIN_SIZE(velk_node_selector_t, 40);
PIN(velk_node_selector_t, cluster, 0);
PIN(velk_node_selector_t, region, 8);
PIN(velk_node_selector_t, zone, 16);
PIN(velk_node_selector_t, rack, 24);
PIN(velk_node_selector_t, node_class, 32);

PIN_SIZE(velk_ll_config_t, 8);
PIN(velk_ll_config_t, name, 0);

PIN_SIZE(velk_ll_put_item_t, 32);
PIN(velk_ll_put_item_t, key, 0);
PIN(velk_ll_put_item_t, value_parts, 8);
PIN(velk_ll_put_item_t, value_part_lens, 16);
PIN(velk_ll_put_item_t, value_part_count, 24);

PIN_SIZE(velk_sdk_metrics_ctx_t, 1520);

/* libvelkshared's options: later fields come out of the reserved room, so a
 * program built against an older header passes a record of the same size. */
PIN_SIZE(velkshared_options_t, 56);
PIN(velkshared_options_t, url, 0);
PIN(velkshared_options_t, store, 8);
PIN(velkshared_options_t, timeout_ms, 16);
PIN(velkshared_options_t, replicas, 24);
PIN(velkshared_options_t, reserved, 32);

_Static_assert(VELK_OK == 0 && VELK_ERR_NOT_FOUND == -1 && VELK_ERR_NO_MEMORY == -4 &&
                   VELK_ERR_INVALID_ARGUMENT == -5 && VELK_ERR_NAMESPACE_NOT_FOUND == -6 &&
                   VELK_ERR_NAMESPACE_EXISTS == -8,
               "status codes");

static int check(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "failed: %s\n", what);
    }
    return condition ? 0 : 1;
}

int main(void) {
    int failures = 0;
    velk_client* client = velk_client_create("config");
    const char* value = "c-value";
    const void* parts[1];
    size_t lens[1];
    velk_put_item_t item;
    velk_put_result_t result;
    char buffer[16];
    void* buffers[1];
    uint64_t sizes[1];
    int32_t status = 0;
    uint64_t length = 0;
    velk_get_item_t get_item;

    parts[0] = value;
    lens[0] = strlen(value);
    memset(&item, 0, sizeof item);
    item.key = "k";
    item.value_parts = parts;
    item.value_part_lens = lens;
    item.value_part_count = 1;
    failures += check(client != NULL, "create");
    failures += check(velk_batch_put(client, "c", &item, 1, &result, 1, NULL) == VELK_OK, "put");
    failures += check(strcmp(result.location, "mock://mock-node-0:9000/c/k") == 0, "location");

    memset(&get_item, 0, sizeof get_item);
    get_item.key = "k";
    buffers[0] = buffer;
    sizes[0] = sizeof buffer;
    failures += check(
        velk_batch_get_into(client, "c", &get_item, 1, buffers, sizes, &status, &length, NULL) == VELK_OK,
        "get_into");
    failures += check(status == 7 && length == 7 && memcmp(buffer, "c-value", 7) == 0, "value");
    velk_client_destroy(client);
    return failures == 0 ? 0 : 1;
}
